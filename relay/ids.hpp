// Relay-assigned IDs: nine random digits, never one that is live.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace orvane::relay {

inline constexpr int assigned_id_digits = 9;

// Nine digits with no leading zero, so the ID reads the same everywhere.
std::string random_id(std::mt19937_64& rng);

// Draws until is_live says no; gives up after a bounded number of draws
// (only reachable when nearly all nine-digit IDs are held).
std::optional<std::string> fresh_id(std::mt19937_64& rng,
                                    const std::function<bool(std::string_view)>& is_live);

// Seeds from the operating system's entropy so IDs cannot be predicted from
// the start time.
std::mt19937_64 seeded_rng();

}  // namespace orvane::relay
