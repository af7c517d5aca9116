// The status report and the history as one JSON object each, in the layout
// docs/status-report.schema.json and docs/status-history.schema.json give.
#include "status/report.h"

#include "contract/product_contract.h"
#include "status/json_text.h"
#include "status/report_parts.h"

namespace starter::status {
namespace {

// True for the service, false for another program or one that ended; none
// for an owner that may be the service: not named by the system, or a
// java.exe this account cannot examine.
std::optional<bool> ListenerIsService(const port::PortListener& listener, const Observations& seen) {
  const service::Identity identity = port::OwnerIdentity(listener, seen.owner_looks);
  if (identity == service::Identity::kCannotTell) return std::nullopt;
  return identity == service::Identity::kService;
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

// Whether the connected marker was written by a running service; null when
// no service runs or the marker could not be looked at.
std::optional<bool> MarkerWrittenByAServiceJson(const Observations& seen) {
  if (seen.services.empty() || seen.ConnectedMarker().unreadable) return std::nullopt;
  return WrittenByARunningService(seen.ConnectedMarker(), seen.services);
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
      .TextOrNull("not_delivered", TextOrNull(run.not_delivered))
      .Close();
}

std::string RunJson(const std::optional<StarterRun>& run) { return run ? RunJson(*run) : "null"; }

std::optional<std::string> ErrorText(const std::optional<platform::SystemError>& error) {
  return error ? std::optional(Describe(*error)) : std::nullopt;
}

std::string VerdictJson(const Verdict& verdict) {
  return JsonObject()
      .Text("state", NameOf(verdict.state))
      .Text("reason", verdict.reason)
      .Number("exit_code", static_cast<std::uint64_t>(ExitCodeOf(verdict.state)))
      .Close();
}

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
             .Boolean("connected_marker_written_by_running_service", MarkerWrittenByAServiceJson(seen))
             .Add("log", LogJson(seen))
             .Add("last_run", RunJson(seen.last_run))
             .Add("verdict", VerdictJson(verdict))
             .Close() +
         "\n";
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

}  // namespace starter::status
