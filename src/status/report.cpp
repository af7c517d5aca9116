#include "status/report.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <type_traits>

#include "contract/product_contract.h"
#include "log/log_text.h"
#include "status/json_text.h"

namespace starter::status {
namespace {


std::string Utf8(const std::wstring& text) { return log::WideToUtf8(text); }

// One field of the text report: its name in a column of its own. Values
// carry text from outside (log lines, command lines, paths), shown with
// their control characters escaped so that each field stays one line.
std::string Field(const std::string& name, const std::string& value) {
  return fmt::format("{:<18}{}\n", name, log::EscapeControls(value));
}

std::string FileState(const FileFacts& file) {
  if (file.unreadable) return "cannot be read (" + Describe(*file.unreadable) + ")";
  if (!file.present) return "missing";
  return fmt::format("{} bytes, written {}", file.size, file.written.local);
}

// Whether a file of the install is where the starter looks for it.
std::string Whereabouts(const FileFacts& file) {
  if (file.path.empty()) return "not looked for: the install root is unknown";
  if (file.unreadable) return "cannot be read (" + Describe(*file.unreadable) + "): " + Utf8(file.path);
  return (file.present ? "present: " : "missing: ") + Utf8(file.path);
}

std::string PortValue(const StoredPort& port) {
  if (port.value) return std::to_string(*port.value);
  return port.unread ? "not set (" + Describe(*port.unread) + ")" : "not set";
}

// True for the service, false for another program or one that ended; none
// for an owner that may be the service: not named by the system, or a
// java.exe this account cannot examine.
std::optional<bool> ListenerIsService(const port::PortListener& listener, const Observations& seen) {
  const service::Identity identity = port::OwnerIdentity(listener, seen.owner_looks);
  if (identity == service::Identity::kCannotTell) return std::nullopt;
  return identity == service::Identity::kService;
}

// The image path of the listener's owner, when the system named the owner
// and its image could be read.
std::optional<std::string> OwnerImage(const port::PortListener& listener, const Observations& seen) {
  if (!listener.owner_id) return std::nullopt;
  const auto image = seen.owner_images.find(*listener.owner_id);
  if (image == seen.owner_images.end()) return std::nullopt;
  return Utf8(image->second);
}

// "svchost.exe" of "C:\Windows\System32\svchost.exe".
std::string ImageName(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// The owner's image name: from its path, else as the process list gives it.
std::string OwnerImageName(const port::PortListener& listener, const Observations& seen) {
  if (const std::optional<std::string> path = OwnerImage(listener, seen)) return ImageName(*path);
  const auto look = seen.owner_looks.find(*listener.owner_id);
  return look == seen.owner_looks.end() ? "" : Utf8(look->second.image_name);
}

std::string OwnerText(const port::PortListener& listener, const Observations& seen) {
  switch (port::OwnerIdentity(listener, seen.owner_looks)) {
    case service::Identity::kService: return "a Vantic service process";
    case service::Identity::kCannotTell:
      return "cannot be examined from this account: run zephra_vantic_status.exe as an administrator to see "
             "whether it is the Vantic service";
    case service::Identity::kEnded: return "ended while the report looked";
    case service::Identity::kOtherProgram: break;
  }
  return "no Vantic service";
}

std::string ListenerText(const port::PortListener& listener, const Observations& seen) {
  const char* where = "listening (IPv4)";
  if (listener.ipv6) {
    where = ListensForTheStarter(seen.listeners) ? "listening on IPv6 too, which the starter does not count"
                                                  : "listening on IPv6 only, which the starter does not count";
  }
  if (!listener.owner_id) return fmt::format("{}, owner not named by the system", where);
  const std::string image = OwnerImageName(listener, seen);
  return fmt::format("{}, owner {}{}: {}", where, *listener.owner_id, image.empty() ? "" : " (" + image + ")",
                     OwnerText(listener, seen));
}

std::string PortLines(const Observations& seen) {
  const std::optional<std::uint32_t>& port = seen.port_64bit_view.value;
  if (!port) return "";
  const std::string name = fmt::format("port {}", *port);
  if (seen.listeners_unread) return Field(name, "TCP tables cannot be read (" + Describe(*seen.listeners_unread) + ")");
  if (seen.listeners.empty()) return Field(name, "nothing listens");
  std::string lines;
  for (const port::PortListener& listener : seen.listeners)
    lines += Field(lines.empty() ? name : "", ListenerText(listener, seen));
  return lines;
}

std::string ServiceLines(const Observations& seen) {
  if (seen.services_unread) return Field("Vantic service", "cannot be read (" + Describe(*seen.services_unread) + ")");
  if (seen.services.empty() && seen.unexamined.empty()) return Field("Vantic service", "not running");
  std::string lines;
  for (const ServiceProcess& service : seen.services) {
    lines += Field(lines.empty() ? "Vantic service" : "",
                   fmt::format("process {}, started {}: {}", service.process_id, service.started.local,
                               Utf8(service.command_line)));
  }
  // Any of these may be the service: never "not running" while one is there.
  for (std::uint32_t process_id : seen.unexamined)
    lines += Field(lines.empty() ? "Vantic service" : "", CannotBeExamined(process_id));
  return lines;
}

std::string MarkerLines(const Observations& seen) {
  std::string lines;
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i) {
    const FileFacts& marker = seen.markers[i];
    std::string line = std::string(contract::kMarkerFiles[i].name) + ": " + FileState(marker);
    if (i == contract::kConnectedMarkerIndex && marker.present && !seen.services.empty()) {
      line += WrittenByARunningService(marker, seen.services) ? ", written by a running service"
                                                              : ", older than every running service (a leftover)";
    }
    lines += Field(lines.empty() ? "markers" : "", line);
  }
  return lines;
}

std::string RunLines(const Observations& seen) {
  if (!seen.log_refused.empty()) return Field("last run", "the log is not read: " + seen.log_refused);
  if (seen.log_unread) return Field("last run", "the log cannot be read (" + Describe(*seen.log_unread) + ")");
  if (!seen.last_run) return Field("last run", "none in the log");
  const StarterRun& run = *seen.last_run;
  std::string lines = Field("last run", fmt::format("{}, process {}, {}", run.started, run.process_id,
                                                    ModeOf(run.arguments)));
  if (!run.status_line.empty()) lines += Field("", "printed " + run.status_line);
  if (!run.wait_ended.empty()) lines += Field("", "wait ended: " + run.wait_ended);
  if (!run.time_limit_stage.empty()) lines += Field("", "ended at its time limit in " + run.time_limit_stage);
  return lines;
}

std::string FileJson(const FileFacts& file) {
  JsonObject object;
  object.Text("path", Utf8(file.path)).Boolean("present", file.present);
  object.TextOrNull("error", file.unreadable ? std::optional(Describe(*file.unreadable)) : std::nullopt);
  object.NumberOrNull("size", file.present ? std::optional(file.size) : std::nullopt);
  return object.TextOrNull("written", file.present ? std::optional(file.written.local) : std::nullopt).Close();
}

std::string PortJson(const StoredPort& port) {
  return JsonObject()
      .NumberOrNull("value", port.value ? std::optional<std::uint64_t>(*port.value) : std::nullopt)
      .TextOrNull("error", port.unread ? std::optional(Describe(*port.unread)) : std::nullopt)
      .Close();
}

std::string ListenersJson(const Observations& seen) {
  return JsonArray(seen.listeners, [&seen](const port::PortListener& listener) {
    return JsonObject()
        .Number("owner_id", listener.owner_id.value_or(0))
        .Boolean("ipv6", listener.ipv6)
        .Boolean("is_service", ListenerIsService(listener, seen))
        .TextOrNull("owner_image", OwnerImage(listener, seen))
        .Close();
  });
}

// Whether the port listens as the starter judges it; null when there was
// no port to look at or its tables could not be read.
std::optional<bool> PortListensJson(const Observations& seen) {
  if (!seen.port_64bit_view.value || seen.listeners_unread) return std::nullopt;
  return ListensForTheStarter(seen.listeners);
}

std::string ServicesJson(const Observations& seen) {
  return JsonArray(seen.services, [](const ServiceProcess& service) {
    return JsonObject()
        .Number("process_id", service.process_id)
        .Text("started", service.started.local)
        .Text("command_line", Utf8(service.command_line))
        .Close();
  });
}

std::optional<std::string> TextOrNull(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional(text);
}

std::string RunJson(const StarterRun& run) {
  const std::string arguments = JsonArray(run.arguments, [](const std::string& argument) { return JsonString(argument); });
  const std::optional<std::int64_t> waited = WaitedMilliseconds(run);
  return JsonObject()
      .Number("process_id", run.process_id)
      .Text("started", run.started)
      .Add("arguments", arguments)
      .Text("mode", ModeOf(run.arguments))
      .TextOrNull("status_line", TextOrNull(run.status_line))
      .TextOrNull("wait_ended", TextOrNull(run.wait_ended))
      .TextOrNull("time_limit_stage", TextOrNull(run.time_limit_stage))
      .Text("outcome", NameOf(OutcomeOf(run)))
      .NumberOrNull("waited_ms", waited ? std::optional<std::uint64_t>(*waited) : std::nullopt)
      .Close();
}

std::string RunJson(const std::optional<StarterRun>& run) { return run ? RunJson(*run) : "null"; }

std::optional<std::string> ErrorText(const std::optional<platform::SystemError>& error) {
  return error ? std::optional(Describe(*error)) : std::nullopt;
}

std::string VerdictText(const Verdict& verdict) {
  const std::string state = NameOf(verdict.state);
  return Field("verdict", verdict.reason.empty() ? state : state + ": " + verdict.reason);
}

std::string VerdictJson(const Verdict& verdict) {
  return JsonObject()
      .Text("state", NameOf(verdict.state))
      .Text("reason", verdict.reason)
      .Number("exit_code", static_cast<std::uint64_t>(ExitCodeOf(verdict.state)))
      .Close();
}

// Whether the looking ended before it saw everything: the report then
// holds the verdict alone.
bool Cut(const Observations& seen) { return !seen.unanswered.empty() || !seen.failed.empty(); }

std::string LogJson(const Observations& seen) {
  return JsonObject()
      .Text("path", Utf8(seen.log_file))
      .TextOrNull("error", ErrorText(seen.log_unread))
      .TextOrNull("refused", seen.log_refused.empty() ? std::nullopt : std::optional(seen.log_refused))
      .Close();
}

// The JSON of a looking that did not end: the verdict alone.
std::string CutJson(const Observations& seen, const Verdict& verdict) {
  return JsonObject()
             .Number("schema_version", kSchemaVersion)
             .Text("version", seen.version)
             .Add("verdict", VerdictJson(verdict))
             .Close() +
         "\n";
}

// Called inside a catch block: what escaped, in words.
std::string WhatEscaped() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception of unknown type";
  }
}

Observations Failed(const Observations& header, std::string what) {
  Observations failed;
  failed.version = header.version;
  failed.now = header.now;
  failed.failed = std::move(what);
  return failed;
}

// The text of what was asked for, and the exit code that goes with it:
// the report's says its verdict; the history's says whether the log was read.
struct Written {
  std::string text;
  int exit_code;
};

Written Formatted(const Observations& seen, const ReportRequest& request) {
  if (request.history) {
    const bool read = !Cut(seen) && !seen.log_unread && seen.log_refused.empty();
    return {request.json ? FormatHistoryJson(seen) : FormatHistoryText(seen),
            read ? 0 : ExitCodeOf(State::kUnknown)};
  }
  const Verdict verdict = JudgeState(seen);
  return {request.json ? FormatJson(seen, verdict) : FormatText(seen, verdict), ExitCodeOf(verdict.state)};
}

// Called inside a catch block: the report that writing `seen`'s failed,
// written as far as anything can still be written.
void WriteFailure(const Observations& seen, const ReportRequest& request, ReportOutput& output) noexcept {
  try {
    const Observations failed = Failed(seen, "the report failed while writing it: " + WhatEscaped());
    WriteAll(Formatted(failed, request).text, output);
  } catch (...) {
    // Nothing more can be written; the exit code still says unknown.
  }
}

// How much of `text` one write takes: a console is handed a piece its
// buffer holds, never the first half of a surrogate pair alone.
template <typename Char>
std::size_t PieceOf(std::basic_string_view<Char> text) {
  std::size_t size = std::min(text.size(), kConsoleWriteUnits);
  if constexpr (std::is_same_v<Char, wchar_t>) {
    const auto last = static_cast<std::uint32_t>(text[size - 1]);
    if (size < text.size() && size > 1 && last >= 0xD800 && last <= 0xDBFF) --size;
  }
  return size;
}

template <typename Char, typename WriteOnce>
bool WritePieces(std::basic_string_view<Char> text, WriteOnce write_once) {
  while (!text.empty()) {
    const std::size_t size = PieceOf(text);
    const std::optional<std::size_t> taken = write_once(text.substr(0, size));
    if (!taken || *taken == 0 || *taken > size) return false;
    text.remove_prefix(*taken);
  }
  return true;
}

}  // namespace

std::string ModeOf(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv = {"zephra_vantic_starter.exe"};
  // The pointer is what is wanted: argv holds C strings (cppcheck takes the
  // lambda for one that returns a string).
  std::transform(arguments.begin(), arguments.end(), std::back_inserter(argv),
                 // cppcheck-suppress stlcstrReturn
                 [](const std::string& argument) -> const char* { return argument.c_str(); });
  switch (contract::ClassifyCallerMode(static_cast<int>(argv.size()), argv.data())) {
    case contract::CallerMode::kAllChecks: return "no arguments";
    case contract::CallerMode::kPort: return "--Dravel Brimvale";
    case contract::CallerMode::kProcessAndFile: return "--BrandleAgent " + arguments[1];
    case contract::CallerMode::kUninstallReport: return "--BrandleAgent UninstallReport";
    case contract::CallerMode::kNone: break;
  }
  return "no mode";
}

std::string FormatText(const Observations& seen, const Verdict& verdict) {
  std::string text = fmt::format("zephra_vantic_status {} at {}\n", seen.version, seen.now.local);
  if (Cut(seen)) return text + VerdictText(verdict);
  text += Field("install root", seen.install_root.empty() ? "unknown" : Utf8(seen.install_root));
  text += Field("java.exe", Whereabouts(seen.java_runtime));
  text += Field("Vantic.jar", Whereabouts(seen.service_jar));
  text += Field("ServerPort", PortValue(seen.port_64bit_view) + " (64-bit view)");
  if (seen.port_32bit_view.value) text += Field("", PortValue(seen.port_32bit_view) + " (32-bit view)");
  text += PortLines(seen) + ServiceLines(seen) + MarkerLines(seen) + RunLines(seen);
  text += Field("log", Utf8(seen.log_file));
  return text + VerdictText(verdict);
}

std::string FormatJson(const Observations& seen, const Verdict& verdict) {
  if (Cut(seen)) return CutJson(seen, verdict);
  JsonObject markers;
  for (std::size_t i = 0; i < contract::kMarkerCount; ++i)
    markers.Add(contract::kMarkerFiles[i].name, FileJson(seen.markers[i]));
  return JsonObject()
             .Number("schema_version", kSchemaVersion)
             .Text("version", seen.version)
             .Text("time", seen.now.local)
             .TextOrNull("install_root", seen.install_root.empty() ? std::nullopt : std::optional(Utf8(seen.install_root)))
             .Add("java_runtime", FileJson(seen.java_runtime))
             .Add("service_jar", FileJson(seen.service_jar))
             .Add("server_port", PortJson(seen.port_64bit_view))
             .Add("server_port_32bit_view", PortJson(seen.port_32bit_view))
             .Add("listeners", ListenersJson(seen))
             .TextOrNull("listeners_error", ErrorText(seen.listeners_unread))
             .Boolean("port_listens", PortListensJson(seen))
             .Add("services", ServicesJson(seen))
             .TextOrNull("services_error", ErrorText(seen.services_unread))
             .Add("markers", markers.Close())
             .Boolean("connected_marker_written_by_running_service",
                      seen.services.empty() ? std::nullopt
                                            : std::optional(WrittenByARunningService(seen.ConnectedMarker(), seen.services)))
             .Add("log", LogJson(seen))
             .Add("last_run", RunJson(seen.last_run))
             .Add("verdict", VerdictJson(verdict))
             .Close() +
         "\n";
}

namespace {

// One run of the history: when, which process, its caller, what it printed
// and why, and how long its caller waited.
std::string HistoryLine(const StarterRun& run) {
  std::string arguments;
  for (const std::string& argument : run.arguments) arguments += (arguments.empty() ? "" : " ") + argument;
  std::string line = fmt::format("{}  process {}  {} (arguments: {})  ", run.started, run.process_id,
                                 ModeOf(run.arguments), arguments.empty() ? "none" : arguments);
  line += run.status_line.empty() ? "printed nothing" : "printed " + run.status_line;
  if (!run.wait_ended.empty()) line += "  wait ended: " + run.wait_ended;
  if (!run.time_limit_stage.empty()) line += "  ended at its time limit in " + run.time_limit_stage;
  const std::optional<std::int64_t> waited = WaitedMilliseconds(run);
  line += waited ? fmt::format("  waited {} ms", *waited) : "  wait unknown";
  return log::EscapeControls(line) + "\n";
}

std::string SummaryText(const std::vector<StarterRun>& runs) {
  const HistorySummary summary = Summarize(runs);
  std::string counts;
  for (std::size_t i = 0; i < kOutcomeCount; ++i) {
    if (summary.counts[i] == 0) continue;
    counts += fmt::format("{}{} {}", counts.empty() ? "" : ", ", summary.counts[i], NameOf(static_cast<Outcome>(i)));
  }
  std::string text = fmt::format("{} runs{}{}", runs.size(), counts.empty() ? "" : ": ", counts);
  if (summary.median_wait_ms)
    text += fmt::format("; median wait {} ms, longest {} ms", *summary.median_wait_ms, *summary.longest_wait_ms);
  return Field("summary", text);
}

std::string SummaryJson(const std::vector<StarterRun>& runs) {
  const HistorySummary summary = Summarize(runs);
  JsonObject counts;
  for (std::size_t i = 0; i < kOutcomeCount; ++i) counts.Number(NameOf(static_cast<Outcome>(i)), summary.counts[i]);
  const auto unsigned_or_null = [](const std::optional<std::int64_t>& value) {
    return value ? std::optional<std::uint64_t>(*value) : std::nullopt;
  };
  return JsonObject()
      .Number("runs", runs.size())
      .Add("outcomes", counts.Close())
      .NumberOrNull("median_wait_ms", unsigned_or_null(summary.median_wait_ms))
      .NumberOrNull("longest_wait_ms", unsigned_or_null(summary.longest_wait_ms))
      .Close();
}

}  // namespace

std::string FormatHistoryText(const Observations& seen) {
  std::string text = fmt::format("zephra_vantic_status {} at {}\n", seen.version, seen.now.local);
  if (Cut(seen)) return text + VerdictText(JudgeState(seen));
  text += Field("log", Utf8(seen.log_file));
  if (!seen.log_refused.empty()) return text + Field("history", "the log is not read: " + seen.log_refused);
  if (seen.log_unread) return text + Field("history", "the log cannot be read (" + Describe(*seen.log_unread) + ")");
  for (const StarterRun& run : seen.history) text += HistoryLine(run);
  return text + SummaryText(seen.history);
}

std::string FormatHistoryJson(const Observations& seen) {
  if (Cut(seen)) return CutJson(seen, JudgeState(seen));
  return JsonObject()
             .Number("schema_version", kSchemaVersion)
             .Text("version", seen.version)
             .Text("time", seen.now.local)
             .Add("log", LogJson(seen))
             .Add("runs", JsonArray(seen.history, [](const StarterRun& run) { return RunJson(run); }))
             .Add("summary", SummaryJson(seen.history))
             .Close() +
         "\n";
}

bool WriteAll(const std::string& text, ReportOutput& output) {
  const std::optional<std::wstring> console = output.ConsoleText(text);
  if (console) {
    return WritePieces(std::wstring_view(*console), [&output](std::wstring_view piece) { return output.WriteConsole(piece); });
  }
  return WritePieces(std::string_view(text), [&output](std::string_view piece) { return output.WriteBytes(piece); });
}

int WriteReport(const Observations& seen, const ReportRequest& request, ReportOutput& output) {
  try {
    const Written written = Formatted(seen, request);
    WriteAll(written.text, output);
    return written.exit_code;
  } catch (...) {
    WriteFailure(seen, request, output);
  }
  return ExitCodeOf(State::kUnknown);
}

Observations FailedLooking(const Observations& header, const char* looking_at) {
  return Failed(header, std::string("the report failed while reading ") + looking_at + ": " + WhatEscaped());
}

}  // namespace starter::status
