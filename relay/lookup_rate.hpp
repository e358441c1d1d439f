// How often one address may look an ID up: connect and status requests tell
// which IDs have an agent behind them, so without a bound anyone could sweep
// the nine-digit space for online agents. No sockets here.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

namespace orvane::relay {

using LookupClock = std::chrono::steady_clock;

// Each address has a bucket of `per_minute` lookups, refilled evenly over a
// minute: a burst of that many, then one every 60 / per_minute seconds.
struct LookupBucket {
    double tokens = 0;
    LookupClock::time_point updated;
    std::size_t refused = 0;  // refusals since its last allowed lookup
};

struct LookupLimiter {
    std::size_t per_minute = 0;  // 0: no bound
    std::unordered_map<std::string, LookupBucket> buckets;
    std::size_t sweep_at = 1024;  // forget full buckets once this many are held
};

struct LookupVerdict {
    bool allowed = true;
    bool first_refusal = false;      // the first refused one of a burst
    std::size_t refused_before = 0;  // allowed again after this many refusals
};

// Counts one lookup by `address` at `now`.
LookupVerdict take_lookup(LookupLimiter& limiter, const std::string& address,
                          LookupClock::time_point now);

}  // namespace orvane::relay
