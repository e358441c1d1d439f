#pragma once
// Helpers for tests that drive the real orvane.exe under Wine.
#include <winsock2.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The folder of the running test executable (orvane.exe is built beside it).
std::wstring test_bin_dir();

// A fresh folder under the temporary directory, removed with its files.
struct TempDir {
    TempDir();
    ~TempDir();
    std::wstring path;  // with a trailing backslash
    std::wstring file(const std::wstring& name) const { return path + name; }
};

std::string read_file(const std::wstring& path);
// The file with CR LF line ends read as LF.
std::string read_text_file(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& bytes);
bool file_exists(const std::wstring& path);

// Copies orvane.exe and, unless without_cert, the test certificate pair.
void install_agent(const TempDir& dir, bool without_cert = false);

// A child process whose standard output and error are collected as it runs.
struct Child {
    PROCESS_INFORMATION pi{};
    HANDLE out_read = nullptr;
    std::thread reader;
    std::mutex lock;
    std::string out;

    Child() = default;
    Child(const Child&) = delete;
    ~Child();

    std::string output();
    // True when the output holds `text` within timeout_ms.
    bool wait_for_output(const std::string& text, DWORD timeout_ms);
    // The exit code, or STILL_ACTIVE after timeout_ms.
    DWORD wait_exit(DWORD timeout_ms);
    void kill();
};

// Starts `exe` with the given arguments in `folder`, collecting its output.
bool start_process(Child& child, const std::wstring& exe, const std::wstring& folder,
                   const std::vector<std::string>& args);
// Starts exe_dir\orvane.exe with the given arguments, in that folder.
bool start_orvane(Child& child, const TempDir& dir, const std::vector<std::string>& args);

struct RunResult {
    DWORD exit_code = STILL_ACTIVE;
    std::string out;
};
RunResult run_orvane(const TempDir& dir, const std::vector<std::string>& args,
                     DWORD timeout_ms = 20000);

// A socket listening on a free loopback port, which goes to `port`.
SOCKET listen_loopback(std::uint16_t& port);
// A loopback port that nothing listens on (it was free a moment ago).
std::uint16_t closed_loopback_port();

// A visible dialog box or message box ("OrvaneMsgBox") owned by the process,
// or null after timeout_ms.
HWND wait_for_dialog(DWORD pid, DWORD timeout_ms);
// Every text of the dialog's child controls (the message box keeps its
// message in a static control), joined by line feeds, as UTF-8.
std::string dialog_text(HWND dialog);

// The clipboard's CF_UNICODETEXT, empty when it holds none; "<busy>" when it
// cannot be opened.
std::wstring clipboard_text();

std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& utf8_text);
// UTF-8 text in code page 1251, as the Russian ANSI code page writes it.
std::string to_cp1251(const std::string& utf8_text);
