#include "ui/ui_state.h"

#include <mutex>

UiState ui;

void init_saved_list_lock()
{
    static std::once_flag once;
    std::call_once(once, [] { InitializeCriticalSection(&ui.saved_list_lock); });
}
