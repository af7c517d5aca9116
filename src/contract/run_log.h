#pragma once
// The words that mark a run's lines in the starter's log. The starter writes
// them (app/) and the status program finds its runs by them
// (status/run_history), so both take them from here; support reads them in
// logs old and new, so they stay as they are. Each function gives the
// message of one line as the starter logs it.
#include <string>
#include <string_view>

namespace starter::contract {

// "[ START ] " and the program's version: a run's first line.
inline constexpr std::string_view kStartWords = "[ START ] ";
// "param 1->--Dravel": each argument, counted from 1, with its control
// characters escaped.
inline constexpr std::string_view kArgumentWords = "param ";
inline constexpr std::string_view kArgumentSeparator = "->";
// "OUTPUT->{...}": the status line the run printed.
inline constexpr std::string_view kPrintedWords = "OUTPUT->";
// "wait ended: port not LISTENING": the check a wait that ran out found failing.
inline constexpr std::string_view kWaitEndedWords = "wait ended: ";
// "run ended at its time limit in wait": the stage the run's limit ended it in.
inline constexpr std::string_view kTimeLimitWords = "run ended at its time limit in ";
// "status line not delivered: WriteFile GLE=232": a warning after the
// OUTPUT-> line of a line that did not reach the caller whole (it closed
// its pipe); OUTPUT-> still says what the run printed.
inline constexpr std::string_view kNotDeliveredWords = "status line not delivered: ";
// A run's last line. It is logged with a line feed of its own before the
// line end, which leaves a visible gap between runs; readers drop it.
inline constexpr std::string_view kEndWords = "[ END ]";

std::string StartMessage(std::string_view version);
std::string ArgumentMessage(int index, std::string_view escaped_argument);
std::string PrintedMessage(std::string_view status_line);
std::string WaitEndedMessage(std::string_view failed_check);
std::string TimeLimitMessage(std::string_view stage);
std::string NotDeliveredMessage(std::string_view what_failed);
std::string EndMessage();

}  // namespace starter::contract
