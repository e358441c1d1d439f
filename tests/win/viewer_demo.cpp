// Opens viewer sessions through launch_viewer, as the main window will, and
// reports what happens. For the viewer end-to-end test and the README's
// demo; not part of orvane.exe.
//
//   viewer_demo [--rates] [--stay] [--password PW] [--name NAME]
//               (--direct HOST:PORT | --relay HOST:PORT:ID)
//
// Without --password the entry has none, and launch_viewer asks for it.
// Prints "window L T R B" (client area, screen coordinates) once a viewer
// window exists, "image L T R B" once its picture is painted, "rate FPS_X10
// LATENCY_MS" every second with --rates, "prompt TITLE" for each password
// prompt, "box TEXT" for each message box (its texts joined by "|"),
// "notice TEXT" for each notice the network thread gives the window,
// "launched: open" or "launched: none open" each time launch_viewer returns
// (whether a session is open then), and "closed" when a session is over. It ends once no session is
// open, unless
// --stay keeps it for more.
// Lines on standard input:
//   close          answers the box on screen, if any, with OK, else closes
//                  the viewer window
//   password TEXT  types TEXT into the password prompt and confirms it
//   cancel         cancels the password prompt
//   launch         calls launch_viewer again for the same entry
//   quit           ends a --stay run (so does the end of standard input)
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
bool stay = false;
std::atomic<HWND> shown_box{nullptr};
std::atomic<HWND> shown_prompt{nullptr};
std::atomic<bool> launch_wanted{false};
std::atomic<bool> quit_wanted{false};

bool parse(int argc, char** argv, ServerEntry& entry)
{
    for (bool* flag = nullptr; argc > 1; --argc, ++argv) {
        flag = std::strcmp(argv[1], "--rates") == 0  ? &print_rates
               : std::strcmp(argv[1], "--stay") == 0 ? &stay
                                                     : nullptr;
        if (!flag)
            break;
        *flag = true;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        const std::size_t colon = value.find(':');
        if (name == "--password") {
            entry.password = value;
        } else if (name == "--name") {
            entry.name = ansi_to_wide(value);
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

HWND prompt_on_screen()
{
    HWND prompt = shown_prompt.load();
    return prompt && IsWindow(prompt) ? prompt : nullptr;
}

void watch_stdin()
{
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line == "close") {
            HWND box = shown_box.load();
            if (box && IsWindow(box))
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            else if (viewer.session.viewer_window)
                PostMessageW(viewer.session.viewer_window, WM_CLOSE, 0, 0);
        } else if (line.rfind("password ", 0) == 0 || line == "cancel") {
            HWND prompt = prompt_on_screen();
            if (!prompt)
                continue;
            if (line != "cancel") {
                const std::wstring typed = utf8_to_wide(line.substr(9));
                SendMessageW(GetDlgItem(prompt, 104), WM_SETTEXT, 0, LPARAM(typed.c_str()));
            }
            PostMessageW(GetDlgItem(prompt, line == "cancel" ? IDCANCEL : IDOK), BM_CLICK, 0, 0);
        } else if (line == "launch") {
            launch_wanted = true;
        } else if (line == "quit") {
            break;
        }
    }
    quit_wanted = true;
}

// Tells each new box and password prompt once, on one line.
void watch_boxes()
{
    for (;;) {
        HWND box = wait_for_dialog(GetCurrentProcessId(), 100);
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
        HWND prompt = FindWindowW(L"OVPwDlg", nullptr);
        if (prompt && IsWindowVisible(prompt) && prompt != shown_prompt.load()) {
            wchar_t title[256] = {};
            GetWindowTextW(prompt, title, 256);
            std::printf("prompt %s\n", wide_to_utf8(title).c_str());
            shown_prompt = prompt;
        }
        Sleep(50);
    }
}

void launch(const ServerEntry& entry)
{
    launch_viewer(entry);
    std::printf(viewer.open ? "launched: open\n" : "launched: none open\n");
}

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    ServerEntry entry;
    if (!parse(argc, argv, entry)) {
        std::fprintf(stderr, "usage: viewer_demo [--rates] [--stay] [--password PW] [--name NAME] "
                             "(--direct HOST:PORT | --relay HOST:PORT:ID)\n");
        return 2;
    }
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    Gdiplus::GdiplusStartupInput gdiplus_input;
    ULONG_PTR gdiplus_token = 0;
    Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);
    std::thread(watch_stdin).detach();
    std::thread(watch_boxes).detach();

    launch(entry);
    HWND window_told = nullptr;
    bool image_told = false, was_open = viewer.open;
    std::wstring notice_told;
    for (unsigned tick = 1;; ++tick) {
        const std::wstring notice = viewer.session.notice.get();
        if (notice != notice_told) {
            std::printf("notice %s\n", wide_to_utf8(notice).c_str());
            notice_told = notice;
        }
        if (was_open && !viewer.open)
            std::printf("closed\n");
        was_open = viewer.open;
        if (!viewer.open && (!stay || quit_wanted))
            break;
        if (launch_wanted.exchange(false)) {
            launch(entry);  // here, on the thread a main window would use
            was_open = viewer.open;
            continue;
        }
        HWND window = viewer.session.viewer_window;
        if (window && window != window_told) {
            RECT client;
            GetClientRect(window, &client);
            print_rect("window", window, client);
            SetForegroundWindow(window);
            window_told = window;
            image_told = false;
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
    Gdiplus::GdiplusShutdown(gdiplus_token);
    return 0;
}
