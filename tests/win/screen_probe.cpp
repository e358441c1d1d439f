// Fills the screen with a known picture for tests of what the agent sends:
// blocks of 240 x 240 pixels whose colours cycle through eight, block
// (bx, by) taking colour (bx + 3 by) mod 8. Prints "ready" once painted.
// Commands on standard input, each answered with "done" once painted:
//   patch X Y W H   a white rectangle over the blocks
//   reset           the blocks alone again
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr int BLOCK = 240;
constexpr COLORREF COLOURS[] = {RGB(200, 30, 30),  RGB(30, 160, 40),  RGB(40, 60, 210),
                                RGB(230, 200, 40), RGB(20, 20, 20),   RGB(240, 240, 240),
                                RGB(160, 40, 170), RGB(30, 180, 190)};
constexpr UINT WM_PROBE_COMMAND = WM_APP + 1;

RECT patch{};  // the window thread's own; commands bring a new one with them
bool painted_once = false;
bool answer_after_paint = false;

void paint(HDC dc, int width, int height)
{
    for (int by = 0; by * BLOCK < height; ++by)
        for (int bx = 0; bx * BLOCK < width; ++bx) {
            HBRUSH brush = CreateSolidBrush(COLOURS[(bx + 3 * by) % 8]);
            RECT block{bx * BLOCK, by * BLOCK, (bx + 1) * BLOCK, (by + 1) * BLOCK};
            FillRect(dc, &block, brush);
            DeleteObject(brush);
        }
    if (patch.right > patch.left)
        FillRect(dc, &patch, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

LRESULT CALLBACK probe_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        paint(dc, client.right, client.bottom);
        EndPaint(window, &ps);
        GdiFlush();
        if (!painted_once) {
            painted_once = true;
            std::printf("ready\n");
        }
        if (answer_after_paint) {
            answer_after_paint = false;
            std::printf("done\n");
        }
        return 0;
    }
    case WM_PROBE_COMMAND: {
        const RECT* requested = reinterpret_cast<const RECT*>(lparam);
        patch = *requested;
        delete requested;
        answer_after_paint = true;
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void read_commands(HWND window)
{
    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        int x, y, w, h;
        RECT requested{};
        if (std::sscanf(line, "patch %d %d %d %d", &x, &y, &w, &h) == 4)
            requested = {x, y, x + w, y + h};
        else if (std::strncmp(line, "reset", 5) != 0)
            continue;
        PostMessageW(window, WM_PROBE_COMMAND, 0, reinterpret_cast<LPARAM>(new RECT(requested)));
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
}

} // namespace

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = probe_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"OrvaneScreenProbe";
    RegisterClassW(&window_class);
    HWND window = CreateWindowExW(0, L"OrvaneScreenProbe", L"screen probe", WS_POPUP | WS_VISIBLE,
                                  0, 0, GetSystemMetrics(SM_CXSCREEN),
                                  GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    std::thread(read_commands, window).detach();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
