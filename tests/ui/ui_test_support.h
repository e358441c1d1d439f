#pragma once
// Small fixtures for the toolkit's window tests.
#include <windows.h>

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
