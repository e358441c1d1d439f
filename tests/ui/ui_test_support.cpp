#include "ui_test_support.h"

TestParent::TestParent()
{
    static const bool registered = [] {
        WNDCLASSW cls{};
        cls.lpfnWndProc = DefWindowProcW;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"OrvaneTestParent";
        return RegisterClassW(&cls) != 0;
    }();
    if (registered)
        hwnd = CreateWindowExW(0, L"OrvaneTestParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

TestParent::~TestParent()
{
    if (hwnd)
        DestroyWindow(hwnd);
}

RECT child_rect(HWND child)
{
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

COLORREF screen_pixel(HWND window, int x, int y)
{
    POINT p{x, y};
    ClientToScreen(window, &p);
    HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return colour;
}
