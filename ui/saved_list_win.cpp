#include "ui/saved_list.h"

#include <mutex>

std::vector<ServerEntry> saved_list;
std::vector<int> reachability;
CRITICAL_SECTION saved_list_lock;

void init_saved_list_lock()
{
    static std::once_flag once;
    std::call_once(once, [] { InitializeCriticalSection(&saved_list_lock); });
}
