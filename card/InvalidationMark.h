#pragma once
// The invalidation time stamp of a registry record (slot, token, session).
//
// A record is valid while it carries no mark. Once marked it counts as
// absent for lookups and is dropped from the registry by the purge when the
// mark is more than 15 whole seconds old. The mark is read by API threads and
// written by the reader monitor, so it is kept in an atomic.

#include <atomic>
#include <chrono>
#include <limits>
#include <optional>

namespace Brelt::MW::Card {

// A monotonic clock: a wall-clock change must neither purge records early nor
// keep them for ever.
using RegistryClock = std::chrono::steady_clock;
using RegistryTime = RegistryClock::time_point;

// Records invalidated for longer than this many whole seconds are purged.
inline constexpr std::chrono::seconds kPurgeAge{15};

class InvalidationMark {
 public:
  bool IsSet() const { return ticks_.load(std::memory_order_acquire) != kNone; }

  std::optional<RegistryTime> Get() const {
    const auto ticks = ticks_.load(std::memory_order_acquire);
    if (ticks == kNone) return std::nullopt;
    return RegistryTime(RegistryClock::duration(ticks));
  }

  void Set(RegistryTime when) { ticks_.store(when.time_since_epoch().count(), std::memory_order_release); }
  void Clear() { ticks_.store(kNone, std::memory_order_release); }

  // True when marked more than kPurgeAge whole seconds before `now`.
  bool IsStale(RegistryTime now) const {
    const auto when = Get();
    if (!when) return false;
    return std::chrono::duration_cast<std::chrono::seconds>(now - *when) > kPurgeAge;
  }

 private:
  static constexpr RegistryClock::rep kNone = std::numeric_limits<RegistryClock::rep>::min();
  std::atomic<RegistryClock::rep> ticks_{kNone};
};

}  // namespace Brelt::MW::Card
