// Keeps part of the screen changing for the agent benchmark:
//   animator small   a 200 x 100 box at (100,100) repaints with a new colour every 15 ms
//   animator full    the whole 1920 x 1080 screen is redrawn with a moving pattern
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

bool full_screen = false;
int tick = 0;
std::vector<std::uint32_t> pixels;

void paint_full(HDC dc, int width, int height)
{
    pixels.resize(std::size_t(width) * height);
    // Stripes and a gradient that move each tick: every tile changes, and
    // the content is not flat, so JPEG has real work.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[std::size_t(y) * width + x] =
                (((x + tick * 7) & 0xFF) << 16) | (((y * 3 + tick) & 0xFF) << 8) |
                ((x ^ y ^ tick) & 0xFF);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, pixels.data(), &info,
                      DIB_RGB_COLORS);
}

LRESULT CALLBACK animator_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_TIMER:
        ++tick;
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        if (full_screen) {
            paint_full(dc, client.right, client.bottom);
        } else {
            HBRUSH brush = CreateSolidBrush(RGB(tick * 37 & 0xFF, tick * 91 & 0xFF, tick * 13 & 0xFF));
            FillRect(dc, &client, brush);
            DeleteObject(brush);
        }
        EndPaint(window, &ps);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

int main(int argc, char** argv)
{
    full_screen = argc > 1 && std::strcmp(argv[1], "full") == 0;
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = animator_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"OrvaneAnimator";
    RegisterClassW(&window_class);
    const int x = full_screen ? 0 : 100, y = full_screen ? 0 : 100;
    const int w = full_screen ? GetSystemMetrics(SM_CXSCREEN) : 200;
    const int h = full_screen ? GetSystemMetrics(SM_CYSCREEN) : 100;
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"OrvaneAnimator", L"animator",
                                  WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    SetTimer(window, 1, 15, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
