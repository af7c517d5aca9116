#include "port/bind_probe.h"

#include "platform/winsock.h"

namespace starter::port {

BindOutcome TryBindPort(std::uint16_t port) {
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

}  // namespace starter::port
