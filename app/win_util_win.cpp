#include "app/win_util.h"

#include <windows.h>

#include <cstdio>

#include "app/agent_log.h"

std::string exe_directory()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

std::wstring exe_directory_w()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

static std::wstring to_wide(const std::string& text, UINT code_page)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(code_page, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(code_page, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

static std::string from_wide(const std::wstring& text, UINT code_page)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string narrow(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(code_page, 0, text.data(), int(text.size()), narrow.data(), n,
                            nullptr, nullptr);
    return narrow;
}

std::wstring utf8_to_wide(const std::string& text) { return to_wide(text, CP_UTF8); }
std::wstring ansi_to_wide(const std::string& text) { return to_wide(text, CP_ACP); }
std::string wide_to_utf8(const std::wstring& text) { return from_wide(text, CP_UTF8); }
std::string wide_to_ansi(const std::wstring& text) { return from_wide(text, CP_ACP); }

void report_win32_failure(const char* api)
{
    log_error("[!] %s: ошибка %lu\n", api, GetLastError());
}

unsigned long long precise_milliseconds()
{
    static const long long frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<unsigned long long>(now.QuadPart / frequency * 1000 +
                                           now.QuadPart % frequency * 1000 / frequency);
}
