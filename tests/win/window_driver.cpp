// Drives the windows of another program in the same Wine prefix with real
// window messages, for the end-to-end tests of the main window. One command
// a line on standard input, one answer a line on standard output (UTF-8):
//
//   wait CLASS [SECONDS]   waits for a visible top-level window of the class
//                          and makes it current: "window L T R B" (client
//                          area on the screen), or "none"
//   gone CLASS [SECONDS]   waits until no visible window of the class: "gone" or "still"
//   settext ID TEXT        WM_SETTEXT to a control of the current window: "ok"
//   text ID                "text TEXT"
//   click ID               posts BM_CLICK to the control (it may open a modal box): "ok"
//   char ID CODE           posts WM_CHAR with the character code: "ok"
//   state ID               "state VISIBLE ENABLED" (1 or 0 each)
//   command ID             posts WM_COMMAND with the id to the current window: "ok"
//   close                  posts WM_CLOSE to the current window: "ok"
//   count                  "count N": items of the current window's list 3005
//   select N               selects item N of list 3005: "ok"
//   dblclick N             selects item N and double-clicks it: "ok"
//   texts                  "texts A|B|...": the window's title and its children's texts
//   clipboard              "clipboard TEXT"
//   find CLASS [SECONDS]   waits for a top-level window of the class, shown or
//                          hidden (the tray's), and makes it current:
//                          "handle H VISIBLE", or "none"
//   alive H                "alive 1" while the window with that handle exists, else "alive 0"
//   post MSG WPARAM LPARAM posts the message to the current window: "ok"
//   signal NAME            sets the named event, opening or creating it: "ok" or "error"
//   desktop                "desktop PID MADE": the Windows process ID that owns
//                          the desktop window (0: none) and whether this
//                          program can make a window (1 or 0)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int SAVED_LIST_ID = 3005;
constexpr int LIST_ITEM_HEIGHT = 40;

std::string utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(std::size_t(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(n > 0 ? n : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

// Asked of the window itself: GetWindowText does not ask another process's
// controls, whose text lives with them.
std::wstring text_of(HWND window)
{
    wchar_t text[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, LPARAM(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

struct Search {
    std::wstring cls;
    bool hidden_too = false;
    HWND found = nullptr;
};

BOOL CALLBACK find_of_class(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[128] = {};
    GetClassNameW(window, cls, 128);
    if (search->cls == cls && (search->hidden_too || IsWindowVisible(window))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND find_window(const std::wstring& cls, bool hidden_too = false)
{
    Search search{cls, hidden_too};
    EnumWindows(find_of_class, LPARAM(&search));
    return search.found;
}

bool signal_event(const std::wstring& name)
{
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (!event)
        event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (!event)
        return false;
    const bool set = SetEvent(event) != FALSE;
    CloseHandle(event);
    return set;
}

BOOL CALLBACK collect_text(HWND child, LPARAM param)
{
    *reinterpret_cast<std::wstring*>(param) += L"|" + text_of(child);
    return TRUE;
}

std::wstring clipboard_text()
{
    std::wstring text;
    for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); ++attempt)
        Sleep(50);
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

std::string desktop_state()
{
    DWORD owner = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &owner);
    HWND made = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                nullptr, nullptr);
    if (made)
        DestroyWindow(made);
    return "desktop " + std::to_string(owner) + (made ? " 1" : " 0");
}

void answer(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

struct Driver {
    HWND current = nullptr;

    HWND control(int id) const { return GetDlgItem(current, id); }

    void wait(const std::wstring& cls, int seconds)
    {
        for (int waited = 0; waited <= seconds * 20; ++waited) {
            if (HWND found = find_window(cls)) {
                current = found;
                RECT client;
                GetClientRect(found, &client);
                MapWindowPoints(found, nullptr, reinterpret_cast<POINT*>(&client), 2);
                answer("window " + std::to_string(client.left) + " " + std::to_string(client.top) +
                       " " + std::to_string(client.right) + " " + std::to_string(client.bottom));
                return;
            }
            Sleep(50);
        }
        answer("none");
    }

    void find(const std::wstring& cls, int seconds)
    {
        for (int waited = 0; waited <= seconds * 20; ++waited) {
            if (HWND found = find_window(cls, true)) {
                current = found;
                answer("handle " + std::to_string(reinterpret_cast<std::uintptr_t>(found)) + " " +
                       (IsWindowVisible(found) ? "1" : "0"));
                return;
            }
            Sleep(50);
        }
        answer("none");
    }

    void gone(const std::wstring& cls, int seconds)
    {
        for (int waited = 0; waited <= seconds * 20; ++waited) {
            if (!find_window(cls)) {
                answer("gone");
                return;
            }
            Sleep(50);
        }
        answer("still");
    }

    void double_click(int index)
    {
        HWND list = control(SAVED_LIST_ID);
        SendMessageW(list, LB_SETCURSEL, WPARAM(index), 0);
        const LPARAM at = MAKELPARAM(60, index * LIST_ITEM_HEIGHT + LIST_ITEM_HEIGHT / 2);
        PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(list, WM_LBUTTONUP, 0, at);
        PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageW(list, WM_LBUTTONUP, 0, at);
    }

    void run(const std::string& verb, const std::string& rest)
    {
        const std::size_t space = rest.find(' ');
        const std::string first = rest.substr(0, space);
        const std::string second = space == std::string::npos ? "" : rest.substr(space + 1);
        const int number = std::atoi(first.c_str());
        if (verb == "wait") {
            wait(wide(first), second.empty() ? 60 : std::atoi(second.c_str()));
        } else if (verb == "gone") {
            gone(wide(first), second.empty() ? 60 : std::atoi(second.c_str()));
        } else if (verb == "find") {
            find(wide(first), second.empty() ? 60 : std::atoi(second.c_str()));
        } else if (verb == "alive") {
            const auto handle = std::uintptr_t(std::strtoull(first.c_str(), nullptr, 10));
            answer(std::string("alive ") + (IsWindow(reinterpret_cast<HWND>(handle)) ? "1" : "0"));
        } else if (verb == "signal") {
            answer(signal_event(wide(rest)) ? "ok" : "error");
        } else if (verb == "clipboard") {
            answer("clipboard " + utf8(clipboard_text()));
        } else if (verb == "desktop") {
            answer(desktop_state());
        } else if (!current || !IsWindow(current)) {
            answer("error no window");
        } else if (verb == "settext") {
            SendMessageW(control(number), WM_SETTEXT, 0, LPARAM(wide(second).c_str()));
            answer("ok");
        } else if (verb == "text") {
            answer("text " + utf8(text_of(control(number))));
        } else if (verb == "click") {
            PostMessageW(control(number), BM_CLICK, 0, 0);
            answer("ok");
        } else if (verb == "char") {
            PostMessageW(control(number), WM_CHAR, WPARAM(std::atoi(second.c_str())), 0);
            answer("ok");
        } else if (verb == "state") {
            HWND c = control(number);
            answer(std::string("state ") + (IsWindowVisible(c) ? "1" : "0") + " " +
                   (IsWindowEnabled(c) ? "1" : "0"));
        } else if (verb == "command") {
            PostMessageW(current, WM_COMMAND, WPARAM(number), 0);
            answer("ok");
        } else if (verb == "post") {
            unsigned message = 0, wparam = 0, lparam = 0;
            std::sscanf(rest.c_str(), "%u %u %u", &message, &wparam, &lparam);
            PostMessageW(current, message, wparam, lparam);
            answer("ok");
        } else if (verb == "close") {
            PostMessageW(current, WM_CLOSE, 0, 0);
            answer("ok");
        } else if (verb == "count") {
            answer("count " +
                   std::to_string(SendMessageW(control(SAVED_LIST_ID), LB_GETCOUNT, 0, 0)));
        } else if (verb == "select") {
            SendMessageW(control(SAVED_LIST_ID), LB_SETCURSEL, WPARAM(number), 0);
            answer("ok");
        } else if (verb == "dblclick") {
            double_click(number);
            answer("ok");
        } else if (verb == "texts") {
            std::wstring texts = text_of(current);
            EnumChildWindows(current, collect_text, LPARAM(&texts));
            answer("texts " + utf8(texts));
        } else {
            answer("error unknown command");
        }
    }
};

} // namespace

int main()
{
    Driver driver;
    char line[2048];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string command = line;
        while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
            command.pop_back();
        const std::size_t space = command.find(' ');
        driver.run(command.substr(0, space),
                   space == std::string::npos ? "" : command.substr(space + 1));
    }
    return 0;
}
