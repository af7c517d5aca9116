#include "port/bind_probe.h"

#include "platform/win.h"

#include <winsock2.h>

#include "platform/handles.h"

namespace starter::port {
namespace {

struct SocketKind {
  using Handle = SOCKET;
  static Handle Empty() { return INVALID_SOCKET; }
  static void Close(Handle handle) { ::closesocket(handle); }
};
using UniqueSocket = platform::UniqueResource<SocketKind>;

// Windows Sockets, started for the life of the object.
class WinsockSession {
 public:
  WinsockSession() : started_(::WSAStartup(MAKEWORD(2, 2), &data_) == 0) {}
  ~WinsockSession() {
    if (started_) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Started() const { return started_; }

 private:
  WSADATA data_{};
  bool started_;
};

}  // namespace

BindOutcome TryBindPort(std::uint16_t port) {
  const WinsockSession winsock;
  if (!winsock.Started()) return BindOutcome::kFailed;
  const UniqueSocket probe(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!probe) return BindOutcome::kFailed;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
    return BindOutcome::kBound;
  return ::WSAGetLastError() == WSAEACCES ? BindOutcome::kRefused : BindOutcome::kFailed;
}

}  // namespace starter::port
