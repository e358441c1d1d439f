// A focused window that reports the keys it receives, one line each:
// "ready", then "down VK" / "up VK". For tests of injected keys.
#include <windows.h>

#include <cstdio>

namespace {

LRESULT CALLBACK probe_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        std::printf("down %u\n", unsigned(wparam));
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        std::printf("up %u\n", unsigned(wparam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = probe_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"OrvaneKeyProbe";
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, L"OrvaneKeyProbe", L"key probe",
                                  WS_POPUP | WS_VISIBLE, 1800, 1000, 100, 60, nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    std::printf("ready\n");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
