#pragma once
// Starting a thread that takes ownership of its parameter.
#include <windows.h>

#include <memory>

#include "app/win_handles.h"
#include "app/win_util.h"

// Starts `routine` with `param`, which the thread adopts with
// std::unique_ptr<T>(static_cast<T*>(raw)). When the thread cannot start the
// failure is reported and the parameter freed here; the handle is then empty.
template <typename T>
UniqueHandle start_thread(LPTHREAD_START_ROUTINE routine, std::unique_ptr<T> param)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, param.get(), 0, nullptr);
    if (!thread) {
        report_win32_failure("CreateThread");
        return UniqueHandle();
    }
    param.release();  // the thread owns it now
    return UniqueHandle(thread);
}

// A thread that needs no parameter and is never waited for; false when it
// could not start (reported).
inline bool start_detached(LPTHREAD_START_ROUTINE routine)
{
    return bool(start_thread(routine, std::unique_ptr<int>()));
}
