#include "port/port_walk.h"

#include <exception>

#include "log/diag_log.h"

namespace starter::port {
namespace {

constexpr int kServicePortCount = kLastServicePort - kFirstServicePort + 1;

int ReadStartPort(const PortSelectionOps& ops) {
  std::uint32_t stored = kFirstServicePort;
  try {
    ops.read_stored(stored);
  } catch (const std::exception& error) {
    log::Info("read ServerPort exception: {}", error.what());
  }
  // Judged as a signed number: stored values from 2^31 up count as below the range.
  const auto candidate = static_cast<std::int32_t>(stored);
  return candidate < kFirstServicePort || candidate > kLastServicePort ? kFirstServicePort
                                                                       : candidate;
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

void StorePort(int port, const std::function<bool(std::uint32_t)>& write_stored) {
  bool stored = false;
  try {
    stored = write_stored(static_cast<std::uint32_t>(port));
  } catch (const std::exception& error) {
    log::Info("write ServerPort exception: {}", error.what());
    return;
  }
  if (!stored) log::Info("write ServerPort error");
}

}  // namespace

std::uint16_t SelectPortWith(const PortSelectionOps& ops) {
  const int port = FindUsablePort(ReadStartPort(ops), ops.is_available);
  StorePort(port, ops.write_stored);
  return static_cast<std::uint16_t>(port);
}

}  // namespace starter::port
