#pragma once
#include <string>

// The executable's directory with its trailing backslash: where server.ini,
// banlist.txt, server.crt and server.key live. Narrow in the ANSI code page.
std::string exe_directory();
std::wstring exe_directory_w();

std::wstring utf8_to_wide(const std::string& text);
std::wstring ansi_to_wide(const std::string& text);
std::string wide_to_utf8(const std::wstring& text);
std::string wide_to_ansi(const std::wstring& text);

// "[!] <api>: ошибка <GetLastError()>" on standard error.
void report_win32_failure(const char* api);

// Milliseconds from the performance counter. GetTickCount64 moves in steps of
// about 16 ms, too coarse to pace 33 ms frames or to time a ping.
unsigned long long precise_milliseconds();
