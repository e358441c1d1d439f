#include "relay/lookup_rate.hpp"

#include <algorithm>

namespace orvane::relay {
namespace {

void refill(const LookupLimiter& limiter, LookupBucket& bucket, LookupClock::time_point now)
{
    const double seconds = std::chrono::duration<double>(now - bucket.updated).count();
    const double capacity = static_cast<double>(limiter.per_minute);
    bucket.tokens = std::min(capacity, bucket.tokens + seconds * capacity / 60.0);
    bucket.updated = now;
}

// A full bucket says nothing a fresh one would not: dropping it keeps the
// table as small as the set of addresses that asked within the last minute.
void forget_full_buckets(LookupLimiter& limiter, LookupClock::time_point now)
{
    for (auto it = limiter.buckets.begin(); it != limiter.buckets.end();) {
        refill(limiter, it->second, now);
        if (it->second.tokens >= static_cast<double>(limiter.per_minute)) {
            it = limiter.buckets.erase(it);
        } else {
            ++it;
        }
    }
    limiter.sweep_at = std::max<std::size_t>(1024, 2 * limiter.buckets.size());
}

}  // namespace

LookupVerdict take_lookup(LookupLimiter& limiter, const std::string& address,
                          LookupClock::time_point now)
{
    LookupVerdict verdict;
    if (limiter.per_minute == 0)
        return verdict;
    if (limiter.buckets.size() >= limiter.sweep_at)
        forget_full_buckets(limiter, now);
    const auto [it, fresh] = limiter.buckets.try_emplace(address);
    LookupBucket& bucket = it->second;
    if (fresh) {
        bucket.tokens = static_cast<double>(limiter.per_minute);
        bucket.updated = now;
    }
    refill(limiter, bucket, now);
    if (bucket.tokens < 1.0) {
        verdict.allowed = false;
        verdict.first_refusal = bucket.refused++ == 0;
        return verdict;
    }
    bucket.tokens -= 1.0;
    verdict.refused_before = bucket.refused;
    bucket.refused = 0;
    return verdict;
}

}  // namespace orvane::relay
