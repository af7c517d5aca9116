#include "port/server_port.h"

#include <winsock2.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "contract/product_contract.h"
#include "log/diag_log.h"
#include "platform/handles.h"
#include "platform/process_start.h"
#include "platform/system_facts.h"
#include "platform/winsock.h"
#include "service/process_detection.h"

namespace starter::port {
namespace {

using contract::kServicePortKey;
using contract::kServicePortValue;

constexpr char kOpenCall[] = "RegOpenKeyExW";
constexpr char kQueryCall[] = "RegQueryValueExW";

// A healthy listing takes a second or two on a busy machine. One that takes
// longer is held up and is ended; all the listings of a selection together
// take no longer than the total.
constexpr std::chrono::milliseconds kListingTimeLimit{5000};
constexpr std::chrono::milliseconds kSelectionListingsLimit{10000};
static_assert(kListingTimeLimit <= kSelectionListingsLimit &&
                  kSelectionListingsLimit < contract::BoundOf(contract::Stage::kPortSelection).bound,
              "the listings leave the port selection's bound room for the TCP tables and the registry");

// --- The connection listing, read within a time limit ------------------------

using platform::UniqueHandle;

struct StreamCloser {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using UniqueStream = std::unique_ptr<std::FILE, StreamCloser>;

// The read end as a text-mode stream, as the runtime's command pipe reads:
// each CR LF arrives as one newline. The stream owns the handle once made.
platform::Expected<UniqueStream> TextStreamOf(UniqueHandle& read_end) {
  const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(read_end.get()), _O_RDONLY | _O_TEXT);
  if (descriptor == -1) return platform::ErrnoError("_open_osfhandle");
  static_cast<void>(read_end.release());  // the descriptor closes it now
  UniqueStream stream(_fdopen(descriptor, "rt"));
  if (stream) return stream;
  const platform::SystemError failed = platform::ErrnoError("_fdopen");
  _close(descriptor);
  return failed;
}

// The fixed line of a failed step, and the system's reason in a line of its own.
CommandOutput Failed(const char* line, const platform::SystemError& error) {
  log::Info("{}", line);
  log::Info("{}", Describe(error));
  return CommandOutput::kFailed;
}

// Reads the program's output to its end, then waits for the program; what
// kept the output from being read whole.
platform::Status ReadToEnd(platform::ProgramWithOutput& started, std::string& output) {
  platform::Expected<UniqueStream> stream = TextStreamOf(started.output);
  const platform::Status read = stream.ok() ? AppendStreamOutput(stream->get(), output) : stream.error();
  // Closed before the wait, so a command whose output was not read to its
  // end cannot block on a full pipe.
  if (stream.ok()) stream->reset();
  started.output.reset();
  ::WaitForSingleObject(started.program.process(), INFINITE);
  return read;
}

}  // namespace

platform::Expected<std::uint32_t> ReadServerPort(RegistryView view) {
  platform::UniqueKey key;
  const REGSAM view_flag = view == RegistryView::k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
  const LSTATUS open_result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicePortKey, 0, KEY_READ | view_flag, key.put());
  if (open_result != ERROR_SUCCESS) return platform::SystemError{kOpenCall, static_cast<std::uint32_t>(open_result)};
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  // Data longer than four bytes fails here with ERROR_MORE_DATA.
  const LSTATUS query_result =
      ::RegQueryValueExW(key.get(), kServicePortValue, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (query_result != ERROR_SUCCESS) return platform::SystemError{kQueryCall, static_cast<std::uint32_t>(query_result)};
  if (type != REG_DWORD) return platform::SystemError{kQueryCall, ERROR_DATATYPE_MISMATCH};
  return std::uint32_t{data};
}

MachinePortSteps::MachinePortSteps() : budget_(kListingTimeLimit, kSelectionListingsLimit) {}

std::optional<std::uint32_t> MachinePortSteps::ReadStored() {
  log::Debug(L"[RegGetDword] {} {}", kServicePortKey, kServicePortValue);
  const platform::Expected<std::uint32_t> stored = ReadServerPort(RegistryView::k64Bit);
  if (!stored.ok()) {
    const platform::SystemError& failed = stored.error();
    // A value of another type is passed over without a word.
    if (std::string_view(failed.call) == kOpenCall) log::Info("RegOpenKeyEx Error: {}", failed.code);
    else if (failed.code != ERROR_DATATYPE_MISMATCH) log::Info("RegQueryValueEx Error: {}", failed.code);
    return std::nullopt;
  }
  log::Debug("Value: {}", *stored);
  return *stored;
}

bool MachinePortSteps::WriteStored(std::uint32_t value) {
  log::Debug(L"[RegSetDword] {} {} {}", kServicePortKey, kServicePortValue, value);
  platform::UniqueKey key;
  DWORD disposition = 0;  // stays 0 when a failed call reports none
  const LSTATUS create_result =
      ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServicePortKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_WOW64_64KEY, nullptr, key.put(), &disposition);
  if (create_result != ERROR_SUCCESS) {
    LogKeyRefused(disposition == REG_CREATED_NEW_KEY, create_result);
    return false;
  }
  const DWORD data = value;
  const LSTATUS set_result =
      ::RegSetKeyValueW(key.get(), nullptr, kServicePortValue, REG_DWORD, &data, sizeof(data));
  if (set_result != ERROR_SUCCESS) {
    LogValueRefused(set_result);
    return false;
  }
  log::Debug("Success");
  return true;
}

// What ReadCommandOutput does, for any program: runs `program` with
// `command_line` in `folder` and appends its standard output. Tests run it
// by name on programs of their own.
CommandOutput ReadProgramOutput(const std::wstring& program, const std::wstring& folder, std::wstring command_line,
                                std::string& output, std::chrono::milliseconds limit) {
  const std::wstring command = command_line;  // CreateProcessW may write into the one it gets
  platform::Expected<platform::ProgramWithOutput> started =
      platform::StartWithOutputPipe(program, folder, std::move(command_line));
  if (!started.ok()) return Failed("popen error", started.error());
  platform::ProgramDeadline deadline(*started);
  if (const platform::Status watched = deadline.Start(limit); !watched.ok()) {
    // Nothing would bound the read: the program is not waited for.
    platform::EndProgram(*started);
    return Failed("popen error", watched.error());
  }
  const platform::Status read = ReadToEnd(*started, output);
  // Until the watch stops it may cancel this thread's I/O, a write of the
  // log among it: every line about the program comes after.
  deadline.Stop();
  if (!read.ok()) Failed("read pipe error", read.error());
  if (!deadline.Expired()) return read.ok() ? CommandOutput::kRead : CommandOutput::kFailed;
  log::Warn(L"{} ran out of time after {} ms and was ended", command, limit.count());
  // Why the programs it started were looked for by parent id.
  if (!started->job_refused.ok()) log::Info("{}", Describe(started->job_refused.error()));
  return CommandOutput::kTimedOut;
}

CommandOutput ReadCommandOutput(const char* command_line, std::string& output, std::chrono::milliseconds limit) {
  const std::wstring system = platform::SystemDirectory();
  // Without it, "\cmd.exe" would name a file at the root of the current drive.
  if (system.empty()) return Failed("popen error", platform::SystemError{"GetSystemDirectoryW", ::GetLastError()});
  return ReadProgramOutput(system + L"\\cmd.exe", system, InterpreterCommandLine(platform::AnsiToWide(command_line)),
                           output, limit);
}

std::optional<ListingVerdict> MachinePortSteps::Listing(int port) {
  const std::chrono::milliseconds left = budget_.Left(ListingBudget::Clock::now());
  if (left.count() == 0) return std::nullopt;
  std::string output;
  const CommandOutput read = ReadCommandOutput(AvailabilityCommandLine(port).c_str(), output, left);
  if (read == CommandOutput::kTimedOut) budget_.RanOut();
  if (read != CommandOutput::kRead) return std::nullopt;
  return JudgeListing(output, port);
}

platform::Expected<TcpTables> MachinePortSteps::Tables(TableRows rows) { return ReadMachineTcpTables(rows); }

BindOutcome MachinePortSteps::TryBind(std::uint16_t port) {
  const platform::WinsockSession winsock;
  if (winsock.Result() != 0) return BindOutcome::kFailed;
  const platform::UniqueSocket probe(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!probe) return BindOutcome::kFailed;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
    return BindOutcome::kBound;
  return ::WSAGetLastError() == WSAEACCES ? BindOutcome::kRefused : BindOutcome::kFailed;
}

platform::Expected<OwnerLooks> MachinePortSteps::LookAt(const std::vector<std::uint32_t>& process_ids) {
  return service::MachineProcesses().LookAt(process_ids);
}

bool MachinePortSteps::ServiceRunning() {
  const platform::Expected<service::ServiceSearch> search = service::MachineProcesses().FindService();
  // A list that cannot be read shows no service that a port could be left to.
  if (!search.ok()) log::Info("{}", Describe(search.error()));
  return search.ok() && *search == service::ServiceSearch::kFound;
}

std::uint16_t SelectServerPort() {
  // One time limit for the listings of the whole selection together.
  MachinePortSteps steps;
  return SelectPortWith(steps);
}

}  // namespace starter::port
