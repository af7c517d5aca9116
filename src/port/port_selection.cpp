#include "port/port_selection.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <iterator>

#include "contract/product_contract.h"
#include "log/diag_log.h"

namespace starter::port {
namespace {

using Ask = ListingVerdict::Ask;

// The listing's output is read in pieces of this many bytes.
constexpr std::size_t kPieceSize = 500;

constexpr int kMinStartPort = 1024;
constexpr int kMaxStartPort = 65535;

// Columns are padded with spaces, but a listing may also carry tabs, and
// carriage returns when it was not read through a text-mode stream.
constexpr std::string_view kBlanks = " \t\r";

std::vector<std::string_view> SplitColumns(std::string_view line) {
  std::vector<std::string_view> columns;
  for (auto start = line.find_first_not_of(kBlanks); start != std::string_view::npos;) {
    const auto end = std::min(line.find_first_of(kBlanks, start), line.size());
    columns.push_back(line.substr(start, end - start));
    start = line.find_first_not_of(kBlanks, end);
  }
  return columns;
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Every state word netstat prints on an English (or Chinese) system. Other
// systems print translated words in their OEM code page ("ABH\x99REN",
// "\xB7 L'\x90COUTE"), which are never compared: a row whose first state
// word is not one of these is a connection in an unknown state.
constexpr std::string_view kEnglishStates[] = {
    "CLOSED",     "LISTENING", "SYN_SENT", "SYN_RECEIVED", "ESTABLISHED", "FIN_WAIT_1", "FIN_WAIT_2",
    "CLOSE_WAIT", "CLOSING",   "LAST_ACK", "TIME_WAIT",    "DELETE_TCB",  "BOUND"};

// Protocol, local address, foreign address, then the state (one or more
// words) and the owner id as the last column.
enum Column { kProtocol, kLocal, kForeign, kState, kColumnsWithState };

enum class RowKind { kOther, kListening, kEstablished, kUnreadState };

RowKind KindOfRow(const std::vector<std::string_view>& columns, std::string_view local_tail) {
  if (columns.size() < kColumnsWithState || columns[kProtocol] != "TCP" ||
      !EndsWith(columns[kLocal], local_tail))
    return RowKind::kOther;
  const std::string_view foreign = columns[kForeign];
  if (columns[kState] == "LISTENING" || foreign == "0.0.0.0:0" || foreign == "[::]:0")
    return RowKind::kListening;
  if (columns[kState] == "ESTABLISHED") return RowKind::kEstablished;
  const bool english = std::find(std::begin(kEnglishStates), std::end(kEnglishStates),
                                 columns[kState]) != std::end(kEnglishStates);
  return english ? RowKind::kOther : RowKind::kUnreadState;
}

// The leading decimal digits of `text`; none when there are none, they do
// not fit a process id, or they name process 0, which holds no socket.
std::optional<std::uint32_t> ParseProcessId(std::string_view text) {
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
  if (error != std::errc() || id == 0) return std::nullopt;
  return id;
}

// Ports a service may be given: 1024..65535.
bool IsValidStartPort(int port) {
  return static_cast<unsigned>(port) - static_cast<unsigned>(kMinStartPort) <=
         static_cast<unsigned>(kMaxStartPort - kMinStartPort);
}

// The tables' verdict on `port` from the rows asked for; none, logged, when
// they cannot be read.
std::optional<ListingVerdict> JudgeTables(PortSelectionSteps& steps, std::uint16_t port, TableRows rows) {
  const platform::Expected<TcpTables> tables = steps.Tables(rows);
  if (tables.ok()) return JudgeTcpTables(*tables, port);
  log::Info("{}", Describe(tables.error()));
  return std::nullopt;
}

// The verdict that settles a port (IsPortAvailable: the two witnesses); none
// when neither witness can be had.
std::optional<ListingVerdict> WeighWitnesses(PortSelectionSteps& steps, const std::optional<ListingVerdict>& listing,
                                             std::uint16_t port) {
  if (listing && listing->ask != Ask::kNothing) return listing;
  const std::optional<ListingVerdict> listeners = JudgeTables(steps, port, TableRows::kListeners);
  if (listeners && listeners->ask == Ask::kOwner) return listeners;
  if (listing || !listeners) return listing;
  // No listing and no listener: only every row tells whether a connection holds the port.
  const platform::Expected<TcpTables> all = steps.Tables(TableRows::kAll);
  if (!all.ok()) {
    log::Info("{}", Describe(all.error()));
    return std::nullopt;
  }
  return ListingVerdict{HasEstablishedRow(*all, port) ? Ask::kAnyService : Ask::kNothing, std::nullopt};
}

// Tables that cannot be read hold no connection; logged at debug level only,
// as a poll's failed read is.
bool IsConnected(PortSelectionSteps& steps, std::uint16_t port) {
  const platform::Expected<TcpTables> tables = steps.Tables(TableRows::kAll);
  if (tables.ok()) return HasEstablishedRow(*tables, port);
  log::Debug("{}", Describe(tables.error()));
  return false;
}

// Whether the owner of the first listening row leaves the port to the
// service (OwnerLeavesPortToService). An owner no look could be taken at,
// the process list being unreadable, is no owner known to be the service.
bool OwnerGivesWay(PortSelectionSteps& steps, std::optional<std::uint32_t> owner_id) {
  if (!owner_id) return OwnerLeavesPortToService(std::nullopt, steps.ServiceRunning());
  const platform::Expected<OwnerLooks> looks = steps.LookAt({*owner_id});
  if (!looks.ok()) {
    log::Info("{}", Describe(looks.error()));
    return false;
  }
  return OwnerLeavesPortToService(OwnerIdentity({owner_id, false}, *looks), false);
}

bool DecideAvailability(PortSelectionSteps& steps, const ListingVerdict& verdict, std::uint16_t port) {
  switch (verdict.ask) {
    case Ask::kOwner:
      return OwnerGivesWay(steps, verdict.owner_id);
    case Ask::kAnyService:
      return steps.ServiceRunning();
    case Ask::kConnectionTables:
      if (IsConnected(steps, port)) return steps.ServiceRunning();
      break;
    case Ask::kNothing:
      break;
  }
  // Every outcome but a refusal keeps the listing's answer.
  return steps.TryBind(port) != BindOutcome::kRefused;
}

constexpr int kServicePortCount = contract::kLastServicePort - contract::kFirstServicePort + 1;

// The stored port when it lies in 9673..9700. Judged as a signed number:
// stored values from 2^31 up count as below the range.
std::optional<int> ReadStoredPort(PortSelectionSteps& steps) {
  std::optional<std::uint32_t> stored;
  try {
    stored = steps.ReadStored();
  } catch (const std::exception& error) {
    log::Info("read ServerPort exception: {}", error.what());
  }
  if (!stored) return std::nullopt;
  const auto port = static_cast<std::int32_t>(*stored);
  if (!contract::IsServicePort(port)) return std::nullopt;
  return port;
}

int FindUsablePort(PortSelectionSteps& steps, int candidate) {
  for (int attempt = 0; attempt < kServicePortCount; ++attempt) {
    if (IsPortAvailable(steps, candidate)) return candidate;
    log::Info("port {} is not available", candidate);
    candidate = candidate == contract::kLastServicePort ? contract::kFirstServicePort : candidate + 1;
  }
  log::Info("ports between [{}, {}] are all used", contract::kFirstServicePort, contract::kLastServicePort);
  return 0;
}

bool StorePort(PortSelectionSteps& steps, int port) {
  bool stored = false;
  try {
    stored = steps.WriteStored(static_cast<std::uint32_t>(port));
  } catch (const std::exception& error) {
    log::Info("write ServerPort exception: {}", error.what());
    return false;
  }
  if (!stored) log::Info("write ServerPort error");
  return stored;
}

}  // namespace

std::string AvailabilityCommandLine(int port) {
  return "netstat -ano | findstr " + std::to_string(port);
}

std::wstring InterpreterCommandLine(const std::wstring& command_line) { return L"cmd.exe /d /c " + command_line; }

void LogKeyRefused(bool created, std::int32_t result) {
  log::Info("RegCreateKeyEx {} key failed, result: {}", created ? "create" : "open", result);
}

void LogValueRefused(std::int32_t result) { log::Info("RegSetKeyValue failed, result: {}", result); }

platform::Status AppendStreamOutput(std::FILE* stream, std::string& output) {
  // One byte more than a piece and zeroed once: the last byte is never read
  // into, so a full piece is always a terminated text.
  char buffer[kPieceSize + 1] = {};
  std::size_t got = std::fread(buffer, 1, kPieceSize, stream);
  while (got == kPieceSize) {
    output += buffer;  // up to its first NUL
    got = std::fread(buffer, 1, kPieceSize, stream);
  }
  if (std::ferror(stream)) return platform::ErrnoError("fread");
  if (std::feof(stream)) output.append(buffer, got);
  return {};
}

ListingVerdict JudgeListing(std::string_view listing, int port) {
  const std::string local_tail = ":" + std::to_string(port);
  bool established = false;
  bool unread_state = false;
  while (!listing.empty()) {
    const auto line_end = std::min(listing.find('\n'), listing.size());
    const auto columns = SplitColumns(listing.substr(0, line_end));
    listing.remove_prefix(std::min(line_end + 1, listing.size()));
    switch (KindOfRow(columns, local_tail)) {
      case RowKind::kListening:
        // A row without an owner ends in its state, which names none.
        return {Ask::kOwner, ParseProcessId(columns.back())};
      case RowKind::kEstablished:
        established = true;
        break;
      case RowKind::kUnreadState:
        unread_state = true;
        break;
      case RowKind::kOther:
        break;
    }
  }
  if (established) return {Ask::kAnyService, std::nullopt};
  return {unread_state ? Ask::kConnectionTables : Ask::kNothing, std::nullopt};
}

ListingVerdict JudgeTcpTables(const TcpTables& tables, std::uint16_t port) {
  if (const std::vector<PortListener> listeners = ListenersIn(tables, port); !listeners.empty())
    return {Ask::kOwner, listeners.front().owner_id};
  return {HasEstablishedRow(tables, port) ? Ask::kAnyService : Ask::kNothing, std::nullopt};
}

bool IsPortAvailable(PortSelectionSteps& steps, int port) {
  if (!IsValidStartPort(port)) {
    log::Info("Invalid start port: {}", port);
    return false;
  }
  const auto tcp_port = static_cast<std::uint16_t>(port);
  const std::optional<ListingVerdict> verdict = WeighWitnesses(steps, steps.Listing(port), tcp_port);
  return verdict && DecideAvailability(steps, *verdict, tcp_port);
}

std::chrono::milliseconds ListingBudget::Left(Clock::time_point now) {
  if (ran_out_) return std::chrono::milliseconds::zero();
  if (!end_) end_ = now + total_;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*end_ - now);
  return std::clamp(left, std::chrono::milliseconds::zero(), each_);
}

std::uint16_t SelectPortWith(PortSelectionSteps& steps) {
  const int port = FindUsablePort(steps, ReadStoredPort(steps).value_or(contract::kFirstServicePort));
  if (StorePort(steps, port)) return static_cast<std::uint16_t>(port);
  // The service listens on the port ServerPort holds, not on this choice. A
  // standard user cannot write the value (HKLM, and no virtualisation for an
  // asInvoker program), so a port still stored there is the one to wait for.
  const std::optional<int> stored = ReadStoredPort(steps);
  if (!stored) return static_cast<std::uint16_t>(port);
  log::Warn("ServerPort not written: the service will use the stored port {}", *stored);
  return static_cast<std::uint16_t>(*stored);
}

}  // namespace starter::port
