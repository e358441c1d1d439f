#include "host/ban_list.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "app/agent_log.h"

void load_ban_list(BanList& list, const std::string& path, std::int64_t now)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return;
    char address[64];
    long long until = 0;
    while (std::fscanf(file, "%63s %lld", address, &until) == 2) {
        if (until <= now)
            continue;
        list[address] = BanRecord{0, 0, until};
    }
    std::fclose(file);
}

bool write_ban_list(const BanList& list, const std::string& path, std::int64_t now)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    for (const auto& [address, record] : list) {
        if (record.banned_until > now)
            std::fprintf(file, "%s %lld\n", address.c_str(),
                         static_cast<long long>(record.banned_until));
    }
    std::fclose(file);
    return true;
}

bool is_banned_at(const BanList& list, const std::string& address, std::int64_t now)
{
    auto it = list.find(address);
    return it != list.end() && now < it->second.banned_until;
}

void record_failure_at(BanList& list, const std::string& path, const std::string& address,
                       const std::string& label, std::int64_t now)
{
    BanRecord& record = list[address];
    // A fixed window: it opens at the first failure and is not slid by later ones.
    if (record.window_start == 0 || now - record.window_start > FAILURE_WINDOW_SECONDS) {
        record.window_start = now;
        record.failures = 0;
    }
    ++record.failures;
    log_info("[!] Неудачная попытка %d/%d: %s\n", record.failures, MAX_AUTH_FAILURES,
             label.c_str());
    if (record.failures < MAX_AUTH_FAILURES)
        return;
    record.banned_until = now + BAN_SECONDS;
    record.failures = 0;
    record.window_start = 0;
    log_info("[X] ЗАБАНЕН на %ld мин: %s\n", static_cast<long>(BAN_SECONDS / 60), address.c_str());
    write_ban_list(list, path, now);  // unwritable: the ban holds in memory only
}

void reset_failures(BanList& list, const std::string& address)
{
    auto it = list.find(address);
    if (it == list.end())
        return;
    it->second.failures = 0;
    it->second.window_start = 0;
}

bool is_banned(const BanState& bans, const std::string& address)
{
    return is_banned_at(bans.list, address, std::time(nullptr));
}

void record_failure(BanState& bans, const std::string& address, const std::string& label)
{
    record_failure_at(bans.list, bans.path, address, label, std::time(nullptr));
}

void reset_failures(BanState& bans, const std::string& address)
{
    reset_failures(bans.list, address);
}
