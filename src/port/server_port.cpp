#include "port/server_port.h"

#include <exception>
#include <optional>

#include "log/diag_log.h"

namespace starter::port {
namespace {

using contract::kFirstServicePort;
using contract::kLastServicePort;

constexpr int kServicePortCount = kLastServicePort - kFirstServicePort + 1;

// The stored port when it lies in 9673..9700. Judged as a signed number:
// stored values from 2^31 up count as below the range.
std::optional<int> ReadStoredPort(const PortSelectionOps& ops) {
  std::uint32_t stored = 0;  // outside the range, and left so when nothing is read
  try {
    ops.read_stored(stored);
  } catch (const std::exception& error) {
    log::Info("read ServerPort exception: {}", error.what());
  }
  const auto port = static_cast<std::int32_t>(stored);
  if (port < kFirstServicePort || port > kLastServicePort) return std::nullopt;
  return port;
}

int FindUsablePort(int candidate, const std::function<bool(int)>& is_available) {
  for (int attempt = 0; attempt < kServicePortCount; ++attempt) {
    if (is_available(candidate)) return candidate;
    log::Info("port {} is not available", candidate);
    candidate = candidate == kLastServicePort ? kFirstServicePort : candidate + 1;
  }
  log::Info("ports between [{}, {}] are all used", kFirstServicePort, kLastServicePort);
  return 0;
}

bool StorePort(int port, const std::function<bool(std::uint32_t)>& write_stored) {
  bool stored = false;
  try {
    stored = write_stored(static_cast<std::uint32_t>(port));
  } catch (const std::exception& error) {
    log::Info("write ServerPort exception: {}", error.what());
    return false;
  }
  if (!stored) log::Info("write ServerPort error");
  return stored;
}

}  // namespace

std::uint16_t SelectPortWith(const PortSelectionOps& ops) {
  const int port = FindUsablePort(ReadStoredPort(ops).value_or(kFirstServicePort), ops.is_available);
  if (StorePort(port, ops.write_stored)) return static_cast<std::uint16_t>(port);
  // The service listens on the port ServerPort holds, not on this choice. A
  // standard user cannot write the value (HKLM, and no virtualisation for an
  // asInvoker program), so a port still stored there is the one to wait for.
  const std::optional<int> stored = ReadStoredPort(ops);
  if (!stored) return static_cast<std::uint16_t>(port);
  log::Warn("ServerPort not written: the service will use the stored port {}", *stored);
  return static_cast<std::uint16_t>(*stored);
}

}  // namespace starter::port
