#pragma once
// Windows Sockets for the starter and its test tools: the session the
// library needs around every use, and an owner for sockets.
#include <windows.h>

#include <winsock2.h>

#include "platform/handles.h"

namespace starter::platform {

// Windows Sockets, started for the life of the object.
class WinsockSession {
 public:
  WinsockSession() : result_(::WSAStartup(MAKEWORD(2, 2), &data_)) {}
  ~WinsockSession() {
    if (result_ == 0) ::WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  // 0 when started, else the Winsock error that kept it from starting.
  int Result() const { return result_; }

 private:
  WSADATA data_{};
  int result_;
};

inline SOCKET NoSocket() { return INVALID_SOCKET; }
inline bool IsNoSocket(SOCKET socket) { return socket == INVALID_SOCKET; }
using UniqueSocket = UniqueResource<ResourceKind<SOCKET, &::closesocket, IsNoSocket, NoSocket>>;

}  // namespace starter::platform
