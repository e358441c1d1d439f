#pragma once
#include <cstdint>
#include <map>
#include <string>

inline constexpr int MAX_AUTH_FAILURES = 5;
inline constexpr std::int64_t FAILURE_WINDOW_SECONDS = 600;
inline constexpr std::int64_t BAN_SECONDS = 1800;

struct BanRecord {
    std::int32_t failures = 0;
    std::int64_t window_start = 0;  // first failure of the open window, 0 = none
    std::int64_t banned_until = 0;  // seconds since 1970, 0 = never banned
};

// Keyed by the address text; records stay for the life of the agent.
using BanList = std::map<std::string, BanRecord>;

// The agent's list and the file it is persisted in.
struct BanState {
    BanList list;
    std::string path;
};

// Reads "address banned_until" pairs; bans that have ended are skipped.
void load_ban_list(BanList& list, const std::string& path, std::int64_t now);
// Rewrites the file with the bans still running at `now`; false if it cannot open.
bool write_ban_list(const BanList& list, const std::string& path, std::int64_t now);

bool is_banned_at(const BanList& list, const std::string& address, std::int64_t now);
void record_failure_at(BanList& list, const std::string& path, const std::string& address,
                       const std::string& label, std::int64_t now);
void reset_failures(BanList& list, const std::string& address);

// The same on a list and its file, at the wall clock.
bool is_banned(const BanState& bans, const std::string& address);
void record_failure(BanState& bans, const std::string& address, const std::string& label);
void reset_failures(BanState& bans, const std::string& address);
