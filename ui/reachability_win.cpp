#include "ui/reachability.h"

#include "app/agent_state.h"
#include "app/win_util.h"
#include "net/relay_client.h"
#include "ui/ui_state.h"

namespace {

constexpr DWORD PASS_INTERVAL_MS = 10000;
constexpr unsigned VERSION_EVERY_PASSES = 6;  // about once a minute

void notify_main_window()
{
    if (ui.main_window)
        PostMessageW(ui.main_window, WM_REACHABILITY, 0, 0);
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
    EnterCriticalSection(&ui.saved_list_lock);
    const std::vector<ServerEntry> entries = ui.saved_list;
    LeaveCriticalSection(&ui.saved_list_lock);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int result = probe_entry(entries[i]);
        EnterCriticalSection(&ui.saved_list_lock);
        if (i < ui.reachability.size())
            ui.reachability[i] = result;
        LeaveCriticalSection(&ui.saved_list_lock);
    }
}

} // namespace

DWORD WINAPI reachability_poller(void*)
{
    init_saved_list_lock();
    const AgentConfig& config = agent.config;
    for (unsigned pass = 0;; ++pass) {
        if (!config.relay_host.empty() && pass % VERSION_EVERY_PASSES == 0) {
            std::string version;
            relay_query_version(config.relay_host, config.relay_port, version);  // empty on failure
            agent.relay_info.set(version);
            notify_main_window();
        }
        probe_saved_computers();
        notify_main_window();
        Sleep(PASS_INTERVAL_MS);
    }
}
