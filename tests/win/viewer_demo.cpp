// Opens one viewer session through launch_viewer, as the main window will,
// and reports where its window and picture are. For the viewer end-to-end
// test and the README's demo; not part of orvane.exe.
//
//   viewer_demo [--rates] --password PW (--direct HOST:PORT | --relay HOST:PORT:ID)
//
// Prints "window L T R B" (client area, screen coordinates) once the window
// exists, "image L T R B" once the picture is painted, "rate FPS_X10 LATENCY_MS"
// every second with --rates, "box TEXT" for each message box the session
// shows (its texts joined by "|"), and "closed" at the end.
// A line "close" on standard input answers the box on screen, if any, with
// OK, and else closes the window.
#include <winsock2.h>
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/win_util.h"
#include "tests/win/test_support.h"
#include "ui/saved_list.h"
#include "viewer/viewer.h"

namespace {

bool print_rates = false;
std::atomic<HWND> shown_box{nullptr};

bool parse(int argc, char** argv, ServerEntry& entry)
{
    if (argc > 1 && std::strcmp(argv[1], "--rates") == 0) {
        print_rates = true;
        --argc;
        ++argv;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        const std::size_t colon = value.find(':');
        if (name == "--password") {
            entry.password = value;
        } else if (name == "--direct" && colon != std::string::npos) {
            entry.host = ansi_to_wide(value.substr(0, colon));
            entry.port = std::uint16_t(std::atoi(value.c_str() + colon + 1));
        } else if (name == "--relay" && colon != std::string::npos) {
            const std::size_t second = value.find(':', colon + 1);
            if (second == std::string::npos)
                return false;
            entry.relay_host = ansi_to_wide(value.substr(0, colon));
            entry.relay_port = std::uint16_t(std::atoi(value.c_str() + colon + 1));
            entry.relay_id = ansi_to_wide(value.substr(second + 1));
        } else {
            return false;
        }
    }
    return !entry.host.empty() || !entry.relay_host.empty();
}

void print_rect(const char* what, HWND window, RECT rect)
{
    POINT corners[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
    MapWindowPoints(window, nullptr, corners, 2);
    std::printf("%s %ld %ld %ld %ld\n", what, corners[0].x, corners[0].y, corners[1].x,
                corners[1].y);
}

void watch_stdin()
{
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "close", 5) != 0)
            continue;
        HWND box = shown_box.load();
        if (box && IsWindow(box))
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        else if (viewer.session.viewer_window)
            PostMessageW(viewer.session.viewer_window, WM_CLOSE, 0, 0);
    }
}

// Tells each new box once, on one line.
void watch_boxes()
{
    for (;;) {
        HWND box = wait_for_dialog(GetCurrentProcessId(), 1000);
        if (box && box != shown_box.load()) {
            std::string text = dialog_text(box);
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            for (char& c : text)
                if (c == '\n')
                    c = '|';
            std::printf("box %s\n", text.c_str());
            shown_box = box;
        }
        Sleep(50);
    }
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    ServerEntry entry;
    if (!parse(argc, argv, entry)) {
        std::fprintf(stderr, "usage: viewer_demo --password PW (--direct HOST:PORT | "
                             "--relay HOST:PORT:ID)\n");
        return 2;
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR gdiplus_token = 0;
    Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);
    std::thread(watch_stdin).detach();
    std::thread(watch_boxes).detach();

    launch_viewer(entry);
    bool window_told = false, image_told = false;
    for (unsigned tick = 1; viewer.open; ++tick) {
        HWND window = viewer.session.viewer_window;
        if (window && !window_told) {
            RECT client;
            GetClientRect(window, &client);
            print_rect("window", window, client);
            SetForegroundWindow(window);
            window_told = true;
        }
        if (window && !image_told && viewer.session.image_rect.right > 0) {
            const ImageRect& image = viewer.session.image_rect;
            print_rect("image", window, RECT{image.left, image.top, image.right, image.bottom});
            image_told = true;
        }
        if (print_rates && window && tick % 20 == 0)
            std::printf("rate %d %d\n", viewer.session.fps_x10.load(),
                        viewer.session.latency_ms.load());
        Sleep(50);
    }
    std::printf("closed\n");
    Gdiplus::GdiplusShutdown(gdiplus_token);
    return 0;
}
