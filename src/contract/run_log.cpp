#include "contract/run_log.h"

namespace starter::contract {
namespace {

std::string Joined(std::string_view words, std::string_view rest) {
  std::string message(words);
  message += rest;
  return message;
}

}  // namespace

std::string StartMessage(std::string_view version) { return Joined(kStartWords, version); }

std::string ArgumentMessage(int index, std::string_view escaped_argument) {
  return Joined(kArgumentWords, std::to_string(index)) + Joined(kArgumentSeparator, escaped_argument);
}

std::string PrintedMessage(std::string_view status_line) { return Joined(kPrintedWords, status_line); }

std::string WaitEndedMessage(std::string_view failed_check) { return Joined(kWaitEndedWords, failed_check); }

std::string TimeLimitMessage(std::string_view stage) { return Joined(kTimeLimitWords, stage); }

std::string NotDeliveredMessage(std::string_view what_failed) { return Joined(kNotDeliveredWords, what_failed); }

std::string EndMessage() { return Joined(kEndWords, "\n"); }

}  // namespace starter::contract
