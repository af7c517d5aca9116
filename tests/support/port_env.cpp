#include "support/port_env.h"

#include <algorithm>
#include <cstdlib>

#include "support/win_test_env.h"

namespace starter::test {
namespace {

std::wstring TempPath(const std::wstring& name) {
  wchar_t folder[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  return folder + name;
}

// The holder's count line, once every connection is open (seconds for
// thousands); 0 when it ended or did not answer in time.
int ReadCountLine(HANDLE output, HANDLE holder) {
  std::string line;
  const auto complete = [&line] { return line.find('\n') != std::string::npos; };
  WaitFor([&] {
    DWORD available = 0, got = 0;
    char bytes[32];
    if (::PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
        ::ReadFile(output, bytes, sizeof(bytes), &got, nullptr))
      line.append(bytes, got);
    return complete() || ::WaitForSingleObject(holder, 0) == WAIT_OBJECT_0;
  }, 120000);
  return complete() ? std::atoi(line.c_str()) : 0;
}

// This process's id as Linux knows it, which the Linux holder watches. Under
// wine, Z: is the Linux root and /proc/self names the process that reads it.
std::optional<unsigned> LinuxProcessId() {
  const std::string stat = ReadFileBytes(L"Z:\\proc\\self\\stat");
  const unsigned id = static_cast<unsigned>(std::strtoul(stat.c_str(), nullptr, 10));
  if (id == 0) return std::nullopt;
  return id;
}

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const std::wstring& name,
                                                     const std::wstring& value)
    : name_(name), saved_(EnvironmentVariable(name)) {
  ::SetEnvironmentVariableW(name_.c_str(), value.c_str());
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  ::SetEnvironmentVariableW(name_.c_str(), saved_ ? saved_->c_str() : nullptr);
}

StandinListing::StandinListing()
    : listing_path_(TempPath(L"port_test_listing.txt")),
      path_(L"PATH", TestBinDir() + L"\\path_tools;" + EnvironmentVariable(L"PATH").value_or(L"")),
      listing_(L"NETSTAT_STANDIN_LISTING", listing_path_) {
  ShowListing("");
}

StandinListing::~StandinListing() { ::DeleteFileW(listing_path_.c_str()); }

void StandinListing::ShowListing(const std::string& rows) {
  ::SetEnvironmentVariableW(L"NETSTAT_STANDIN_LISTING", listing_path_.c_str());
  WriteFileBytes(listing_path_, rows);
}

void StandinListing::ShowMachineTable() {
  ::SetEnvironmentVariableW(L"NETSTAT_STANDIN_LISTING", nullptr);
}

FakeVanticService::FakeVanticService() : folder_(TempPath(L"port_test_service")) {
  ::CreateDirectoryW(folder_.c_str(), nullptr);
  const std::wstring java = folder_ + L"\\java.exe";
  ::CopyFileW((TestBinDir() + L"\\path_tools\\findstr.exe").c_str(), java.c_str(), FALSE);

  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inheritable, 0)) return;
  const platform::UniqueHandle child_input(read_end);
  input_.reset(write_end);
  ::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_input.get();
  std::wstring command_line = L"\"" + java + L"\" -jar Vantic.jar";
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(java.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info))
    return;
  ::CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  process_id_ = info.dwProcessId;
}

FakeVanticService::~FakeVanticService() {
  input_.reset();  // its input ends, so it exits
  if (process_) ::WaitForSingleObject(process_.get(), 30000);
  process_.reset();
  ::DeleteFileW((folder_ + L"\\java.exe").c_str());
  ::RemoveDirectoryW(folder_.c_str());
}

std::uint16_t Listen(platform::UniqueSocket& socket, const sockaddr* address, int length) {
  socket.reset(::socket(address->sa_family, SOCK_STREAM, IPPROTO_TCP));
  // A listener of another program: the programs a test starts must not hold
  // it too (systems that name owners would list each holder).
  ::SetHandleInformation(reinterpret_cast<HANDLE>(socket.get()), HANDLE_FLAG_INHERIT, 0);
  if (address->sa_family == AF_INET6) {
    const DWORD only_v6 = 1;
    ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only_v6),
                 sizeof(only_v6));
  }
  if (::bind(socket.get(), address, length) != 0 || ::listen(socket.get(), 4) != 0) return 0;
  return LocalPort(socket);
}

std::uint16_t ListenV4(platform::UniqueSocket& socket, ULONG address) {
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_addr.s_addr = htonl(address);
  return Listen(socket, reinterpret_cast<sockaddr*>(&v4), sizeof(v4));
}

LoopbackConnections::LoopbackConnections(int count) {
  const std::uint16_t port = ListenV4(listener_, INADDR_LOOPBACK);
  if (port == 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  ends_.reserve(2 * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    platform::UniqueSocket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!client || ::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return;
    platform::UniqueSocket server(::accept(listener_.get(), nullptr, nullptr));
    if (!server) return;
    // Closed with a reset, so no end lingers in TIME_WAIT: those rows would
    // keep the tables slow for the tests and measurements that come next.
    const linger reset{1, 0};
    for (const platform::UniqueSocket* end : {&client, &server})
      ::setsockopt(end->get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof(reset));
    ends_.push_back(std::move(client));
    ends_.push_back(std::move(server));
  }
}

BusyMachine::BusyMachine(int count) {
  // The holders first: they must not inherit this process's ends.
  if (count > kHeldInPrefix) linux_.emplace(count - kHeldInPrefix);
  const int in_prefix = std::min(count, kHeldInPrefix);
  if (in_prefix > kHeldHere) StartHolder(in_prefix - kHeldHere);
  here_.emplace(std::min(in_prefix, kHeldHere));
}

BusyMachine::~BusyMachine() {
  holder_input_.reset();  // its input ends, so it lets its connections go and exits
  if (holder_) ::WaitForSingleObject(holder_.get(), 60000);
}

void BusyMachine::StartHolder(int count) {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE input_read = nullptr, input_write = nullptr, output_read = nullptr, output_write = nullptr;
  if (!::CreatePipe(&input_read, &input_write, &inheritable, 0)) return;
  const platform::UniqueHandle child_input(input_read);
  holder_input_.reset(input_write);
  if (!::CreatePipe(&output_read, &output_write, &inheritable, 0)) return;
  const platform::UniqueHandle child_output(output_write), output(output_read);
  ::SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_input.get();
  startup.hStdOutput = child_output.get();
  const std::wstring program = TestBinDir() + L"\\connection_holder.exe";
  std::wstring command_line = L"\"" + program + L"\" " + std::to_wstring(count);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
    return;
  ::CloseHandle(info.hThread);
  holder_.reset(info.hProcess);
  held_by_holder_ = ReadCountLine(output.get(), holder_.get());
}

LinuxConnections::LinuxConnections(int count) {
  const std::optional<unsigned> linux_id = LinuxProcessId();
  if (!linux_id) return;
  const std::string ready = "/tmp/starter-busy-" + std::to_string(*linux_id) + "-" + std::to_string(::GetTickCount64());
  ready_file_ = L"Z:" + std::wstring(ready.begin(), ready.end());
  std::replace(ready_file_.begin(), ready_file_.end(), L'/', L'\\');
  const std::wstring program = TestBinDir() + L"\\linux_connection_holder.py";
  std::wstring command_line = L"linux_connection_holder.py " + std::to_wstring(count) + L" " +
                              std::wstring(ready.begin(), ready.end()) + L" " + std::to_wstring(*linux_id);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};  // wine gives no handles of a Linux program
  if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
    return;
  // Seconds for thousands of connections.
  if (WaitFor([&] { return ::GetFileAttributesW(ready_file_.c_str()) != INVALID_FILE_ATTRIBUTES; }, 120000))
    count_ = std::atoi(ReadFileBytes(ready_file_).c_str());
}

LinuxConnections::~LinuxConnections() {
  if (ready_file_.empty()) return;
  const std::wstring released = ready_file_ + L".released";
  ::DeleteFileW(ready_file_.c_str());
  WaitFor([&] { return ::GetFileAttributesW(released.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000);
  ::DeleteFileW(released.c_str());
}

std::uint16_t LocalPort(const platform::UniqueSocket& socket) {
  sockaddr_storage storage{};
  int length = sizeof(storage);
  ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&storage), &length);
  // The port stands at the same place in IPv4 and IPv6 addresses.
  return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

}  // namespace starter::test
