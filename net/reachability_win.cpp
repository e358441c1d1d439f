#include "net/reachability.h"

#include "app/agent_state.h"
#include "app/win_util.h"
#include "net/relay_client.h"
#include "ui/main_window.h"
#include "ui/saved_list.h"

namespace {

constexpr UINT WM_REACHABILITY = WM_APP + 3;
constexpr DWORD PASS_INTERVAL_MS = 10000;
constexpr unsigned VERSION_EVERY_PASSES = 6;  // about once a minute

void notify_main_window()
{
    if (main_window)
        PostMessageW(main_window, WM_REACHABILITY, 0, 0);
}

int probe_entry(const ServerEntry& entry)
{
    if (entry.relay_host.empty())
        return probe_tcp(wide_to_ansi(entry.host), entry.port);
    return relay_query_status(wide_to_ansi(entry.relay_host), entry.relay_port,
                              wide_to_ansi(entry.relay_id), 3000);
}

// The lock is held only to copy the list and to store each result, never
// across a network wait.
void probe_saved_computers()
{
    EnterCriticalSection(&saved_list_lock);
    const std::vector<ServerEntry> entries = saved_list;
    LeaveCriticalSection(&saved_list_lock);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int result = probe_entry(entries[i]);
        EnterCriticalSection(&saved_list_lock);
        if (i < reachability.size())
            reachability[i] = result;
        LeaveCriticalSection(&saved_list_lock);
    }
}

} // namespace

DWORD WINAPI reachability_poller(void*)
{
    init_saved_list_lock();
    for (unsigned pass = 0;; ++pass) {
        if (!agent_config.relay_host.empty() && pass % VERSION_EVERY_PASSES == 0) {
            std::string version;
            relay_query_version(version);  // empty on failure
            relay_info.set(version);
            notify_main_window();
        }
        probe_saved_computers();
        notify_main_window();
        Sleep(PASS_INTERVAL_MS);
    }
}
