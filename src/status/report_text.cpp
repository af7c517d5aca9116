// The status report as a person reads it: one field a line, the values'
// control characters escaped.
#include "status/report.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "contract/product_contract.h"
#include "log/log_text.h"
#include "status/report_parts.h"

namespace starter::status {

std::string Utf8(const std::wstring& text) { return log::WideToUtf8(text); }

// One field of the text report: its name in a column of its own. Values
// carry text from outside (log lines, command lines, paths), shown with
// their control characters escaped so that each field stays one line.
std::string Field(const std::string& name, const std::string& value) {
  return fmt::format("{:<18}{}\n", name, log::EscapeControls(value));
}

// The image path of the listener's owner, when the system named the owner
// and its image could be read.
std::optional<std::string> OwnerImage(const port::PortListener& listener, const Observations& seen) {
  if (!listener.owner_id) return std::nullopt;
  const auto image = seen.owner_images.find(*listener.owner_id);
  if (image == seen.owner_images.end()) return std::nullopt;
  return Utf8(image->second);
}

// Whether the looking ended before it saw everything: the report then
// holds the verdict alone.
bool Cut(const Observations& seen) { return !seen.unanswered.empty() || !seen.failed.empty(); }

std::string VerdictText(const Verdict& verdict) {
  const std::string state = NameOf(verdict.state);
  return Field("verdict", verdict.reason.empty() ? state : state + ": " + verdict.reason);
}

namespace {

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
  if (StoredPortUnread(port)) return "cannot be read (" + Describe(*port.unread) + ")";
  return port.unread ? "not set (" + Describe(*port.unread) + ")" : "not set";
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
    case service::Identity::kCannotTell: return CannotBeExamined(seen.debug_privilege);
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
    lines += Field(lines.empty() ? "Vantic service" : "", CannotBeExamined(process_id, seen.debug_privilege));
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
  if (!run.not_delivered.empty()) lines += Field("", "not delivered: " + run.not_delivered);
  if (!run.wait_ended.empty()) lines += Field("", "wait ended: " + run.wait_ended);
  if (!run.time_limit_stage.empty()) lines += Field("", "ended at its time limit in " + run.time_limit_stage);
  return lines;
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

}  // namespace starter::status
