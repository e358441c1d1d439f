#include "test_support.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

std::wstring test_bin_dir()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

TempDir::TempDir()
{
    static int counter = 0;
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    path = std::wstring(base) + L"orvane_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(++counter) + L"\\";
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string read_text_file(const std::wstring& path)
{
    std::string text = read_file(path);
    std::erase(text, '\r');
    return text;
}

void write_file(const std::wstring& path, const std::string& bytes)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void install_agent(const TempDir& dir, bool without_cert)
{
    const std::wstring bin = test_bin_dir();
    CopyFileW((bin + L"orvane.exe").c_str(), dir.file(L"orvane.exe").c_str(), FALSE);
    if (without_cert)
        return;
    CopyFileW((bin + L"test-certs\\server.crt").c_str(), dir.file(L"server.crt").c_str(), FALSE);
    CopyFileW((bin + L"test-certs\\server.key").c_str(), dir.file(L"server.key").c_str(), FALSE);
}

Child::~Child()
{
    kill();
    if (reader.joinable())
        reader.join();
    if (out_read)
        CloseHandle(out_read);
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
}

std::string Child::output()
{
    std::lock_guard<std::mutex> guard(lock);
    return out;
}

bool Child::wait_for_output(const std::string& text, DWORD timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (output().find(text) != std::string::npos)
            return true;
        Sleep(20);
    }
    return output().find(text) != std::string::npos;
}

DWORD Child::wait_exit(DWORD timeout_ms)
{
    if (!pi.hProcess || WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi.hProcess, &code);
    if (reader.joinable())
        reader.join();  // the pipe closes with the process: all output is in
    return code;
}

void Child::kill()
{
    if (pi.hProcess && WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, 5000);
    }
}

static std::wstring quote(const std::string& arg)
{
    return L"\"" + wide(arg) + L"\"";
}

bool start_process(Child& child, const std::wstring& exe, const std::wstring& folder,
                   const std::vector<std::string>& args)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_write = nullptr;
    if (!CreatePipe(&child.out_read, &out_write, &sa, 0))
        return false;
    SetHandleInformation(child.out_read, HANDLE_FLAG_INHERIT, 0);

    std::wstring command = L"\"" + exe + L"\"";
    for (const auto& arg : args)
        command += L" " + quote(arg);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out_write;
    si.hStdError = out_write;
    BOOL ok = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                             nullptr, folder.c_str(), &si, &child.pi);
    CloseHandle(out_write);
    if (!ok)
        return false;
    child.reader = std::thread([&child] {
        char buffer[4096];
        DWORD n = 0;
        while (ReadFile(child.out_read, buffer, sizeof buffer, &n, nullptr) && n > 0) {
            std::lock_guard<std::mutex> guard(child.lock);
            // Text-mode output ends lines with CR LF; tests compare LF lines.
            for (DWORD i = 0; i < n; ++i)
                if (buffer[i] != '\r')
                    child.out.push_back(buffer[i]);
        }
    });
    return true;
}

bool start_orvane(Child& child, const TempDir& dir, const std::vector<std::string>& args)
{
    return start_process(child, dir.file(L"orvane.exe"), dir.path, args);
}

SOCKET listen_loopback(std::uint16_t& port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(s, 4);
    int size = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &size);
    port = ntohs(addr.sin_port);
    return s;
}

std::uint16_t closed_loopback_port()
{
    std::uint16_t port = 0;
    closesocket(listen_loopback(port));
    return port;
}

RunResult run_orvane(const TempDir& dir, const std::vector<std::string>& args, DWORD timeout_ms)
{
    Child child;
    RunResult result;
    if (!start_orvane(child, dir, args))
        return result;
    result.exit_code = child.wait_exit(timeout_ms);
    result.out = child.output();
    return result;
}

namespace {
struct DialogSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK find_dialog(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    // The system's dialog class, or the program's own message box.
    const bool dialog = std::wstring(cls) == L"#32770" || std::wstring(cls) == L"OrvaneMsgBox";
    if (pid == search->pid && IsWindowVisible(hwnd) && dialog) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collect_text(HWND hwnd, LPARAM param)
{
    wchar_t text[2048] = {};
    GetWindowTextW(hwnd, text, 2048);
    if (text[0])
        *reinterpret_cast<std::wstring*>(param) += std::wstring(text) + L"\n";
    return TRUE;
}
} // namespace

HWND wait_for_dialog(DWORD pid, DWORD timeout_ms)
{
    for (DWORD waited = 0; waited <= timeout_ms; waited += 50) {
        DialogSearch search{pid, nullptr};
        EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(50);
    }
    return nullptr;
}

std::string dialog_text(HWND dialog)
{
    std::wstring text;
    EnumChildWindows(dialog, collect_text, reinterpret_cast<LPARAM>(&text));
    return utf8(text);
}

std::wstring clipboard_text()
{
    std::wstring text;
    if (!OpenClipboard(nullptr))
        return L"<busy>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

std::string utf8(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& utf8_text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(), int(utf8_text.size()), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(), int(utf8_text.size()), out.data(), n);
    return out;
}

std::string to_cp1251(const std::string& utf8_text)
{
    std::wstring w = wide(utf8_text);
    int n = WideCharToMultiByte(1251, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(1251, 0, w.data(), int(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}
