#include "port/port_availability.h"

#include <algorithm>

namespace starter::port {

bool DecideAvailability(const ListingVerdict& verdict, std::uint16_t port,
                        const AvailabilityProbes& probes) {
  using Ask = ListingVerdict::Ask;
  switch (verdict.ask) {
    case Ask::kOwner:
      return probes.is_service_running(verdict.owner_id);
    case Ask::kAnyService:
      return probes.is_service_running(0);
    case Ask::kConnectionTables:
      if (probes.is_connected(port)) return probes.is_service_running(0);
      break;
    case Ask::kNothing:
      break;
  }
  // Every outcome but a refusal keeps the listing's answer.
  return probes.try_bind(port) != BindOutcome::kRefused;
}

std::optional<ListingVerdict> WeighWitnesses(const std::optional<ListingVerdict>& listing,
                                             const std::function<std::optional<ListingVerdict>()>& tables) {
  using Ask = ListingVerdict::Ask;
  if (!listing) return tables();
  if (listing->ask != Ask::kNothing) return listing;
  const std::optional<ListingVerdict> table_verdict = tables();
  if (table_verdict && table_verdict->ask == Ask::kOwner) return table_verdict;
  return listing;
}

const platform::Expected<TcpTables>& TablesOfOneCheck::Get() {
  if (!tables_) tables_.emplace(read_());
  return *tables_;
}

std::chrono::milliseconds ListingBudget::Left(Clock::time_point now) {
  if (ran_out_) return std::chrono::milliseconds::zero();
  if (!end_) end_ = now + total_;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*end_ - now);
  return std::clamp(left, std::chrono::milliseconds::zero(), each_);
}

}  // namespace starter::port
