#pragma once
// Small fixtures for the toolkit's window tests.
#include <windows.h>

#include <chrono>
#include <ostream>

inline bool operator==(const RECT& a, const RECT& b)
{
    return EqualRect(&a, &b) != FALSE;
}

inline void PrintTo(const RECT& r, std::ostream* out)
{
    *out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

// A hidden top-level window to hold controls under test.
struct TestParent {
    TestParent();
    ~TestParent();
    TestParent(const TestParent&) = delete;
    TestParent& operator=(const TestParent&) = delete;
    HWND hwnd = nullptr;
};

// A child's rectangle in its parent's client coordinates.
RECT child_rect(HWND child);

// A pixel of the window's client area as the display shows it.
COLORREF screen_pixel(HWND window, int x, int y);

// Polls until the condition holds; false when it did not within timeout_ms.
template <typename Condition>
bool wait_until(Condition condition, DWORD timeout_ms = 15000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Sleep(10);
    }
    return true;
}
