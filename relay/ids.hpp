// Relay-assigned IDs: nine random digits, never one that is live.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>

namespace orvane::relay {

inline constexpr int assigned_id_digits = 9;

// The numbers assigned IDs are drawn from: nine digits with no leading zero,
// so the ID reads the same everywhere.
struct IdRange {
    std::uint32_t first = 100'000'000;
    std::uint32_t last = 999'999'999;
};

std::string random_id(std::mt19937_64& rng, IdRange range = {});

// Draws until is_live says no; gives up after a bounded number of draws
// (only reachable when nearly every ID of the range is held).
std::optional<std::string> fresh_id(std::mt19937_64& rng,
                                    const std::function<bool(std::string_view)>& is_live,
                                    IdRange range = {});

// The IDs a relay holds: agents registered under them, and IDs whose agent
// is in a session. The latter stay taken for fresh assignment: their agent
// comes back under the same ID when the session ends.
template <class Agent>
struct IdTable {
    std::unordered_map<std::string, Agent> registered;
    std::unordered_map<std::string, std::size_t> in_session;   // open sessions per ID
    IdRange range;

    bool taken(std::string_view id) const {
        const std::string key(id);
        return registered.count(key) > 0 || in_session.count(key) > 0;
    }
    std::optional<std::string> assign(std::mt19937_64& rng) const {
        return fresh_id(rng, [this](std::string_view id) { return taken(id); }, range);
    }
    void start_session(const std::string& id) { ++in_session[id]; }
    void end_session(const std::string& id) {
        const auto it = in_session.find(id);
        if (it != in_session.end() && --it->second == 0) in_session.erase(it);
    }
};

// Seeds from the operating system's entropy so IDs cannot be predicted from
// the start time.
std::mt19937_64 seeded_rng();

}  // namespace orvane::relay
