#include "ui/saved_list.h"

#include "app/win_handles.h"
#include "app/win_util.h"
#include "credentials/protected_storage.h"
#include "ui/message_box.h"
#include "ui/ui_state.h"

namespace {

constexpr wchar_t GENERAL[] = L"General";
// Far beyond any list of computers; a bigger file is not copied into memory.
constexpr long long MAX_SAVED_LIST_FILE_BYTES = 16 << 20;

std::wstring section_name(std::size_t number) { return L"Server" + std::to_wstring(number); }

std::wstring read_text(const std::wstring& section, const wchar_t* key, std::size_t max_chars,
                       const std::wstring& path)
{
    std::wstring value(max_chars + 1, L'\0');
    const DWORD n = GetPrivateProfileStringW(section.c_str(), key, L"", value.data(),
                                             DWORD(value.size()), path.c_str());
    value.resize(n);
    return value;
}

std::uint16_t read_port(const std::wstring& section, const wchar_t* key, std::uint16_t default_port,
                        const std::wstring& path)
{
    // Cut to 16 bits as the file has always been read.
    return std::uint16_t(GetPrivateProfileIntW(section.c_str(), key, default_port, path.c_str()));
}

std::vector<ServerEntry> read_saved_list(const std::wstring& path)
{
    std::vector<ServerEntry> entries;
    const UINT count = GetPrivateProfileIntW(GENERAL, L"count", 0, path.c_str());
    for (UINT i = 1; i <= count; ++i) {
        const std::wstring section = section_name(i);
        ServerEntry entry;
        entry.host = read_text(section, L"ip", 63, path);
        entry.relay_host = read_text(section, L"relay_host", 127, path);
        if (entry.host.empty() && entry.relay_host.empty())
            continue;  // a gap: later sections keep their numbers
        entry.name = read_text(section, L"name", 127, path);
        entry.port = read_port(section, L"port", DEFAULT_AGENT_PORT, path);
        entry.relay_port = read_port(section, L"relay_port", DEFAULT_RELAY_PORT, path);
        entry.relay_id = read_text(section, L"relay_id", 63, path);
        const std::wstring pw_enc = read_text(section, L"pw_enc", 2047, path);
        entry.password = unprotect_secret(wide_to_ansi(pw_enc));
        if (entry.password.empty())
            entry.kept_pw_enc = pw_enc;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::wstring pw_enc_of(const ServerEntry& entry)
{
    if (entry.password.empty())
        return entry.kept_pw_enc;
    const std::string text = protect_secret(entry.password);
    return std::wstring(text.begin(), text.end());  // Base64: pure ASCII
}

bool write_key(const std::wstring& section, const wchar_t* key, const std::wstring& value,
               const std::wstring& path)
{
    return WritePrivateProfileStringW(section.c_str(), key, value.c_str(), path.c_str()) != FALSE;
}

// The profile functions' own edits, made on `path`: the old numbering goes,
// the list is written in order. Sections above both counts stay.
bool write_entries(const std::vector<ServerEntry>& entries, const std::wstring& path)
{
    const UINT old_count = GetPrivateProfileIntW(GENERAL, L"count", 0, path.c_str());
    bool ok = true;
    for (UINT i = 1; i <= old_count && ok; ++i)
        ok = WritePrivateProfileStringW(section_name(i).c_str(), nullptr, nullptr, path.c_str());
    ok = ok && write_key(GENERAL, L"count", std::to_wstring(entries.size()), path);
    for (std::size_t k = 0; k < entries.size() && ok; ++k) {
        const ServerEntry& e = entries[k];
        const std::wstring s = section_name(k + 1);
        ok = write_key(s, L"name", e.name, path) && write_key(s, L"ip", e.host, path) &&
             write_key(s, L"port", std::to_wstring(e.port), path) &&
             write_key(s, L"pw_enc", pw_enc_of(e), path) &&
             write_key(s, L"relay_host", e.relay_host, path) &&
             write_key(s, L"relay_port", std::to_wstring(e.relay_port), path) &&
             write_key(s, L"relay_id", e.relay_id, path);
    }
    return ok;
}

// A byte copy of the current file at `to` (none when there is no file), with
// a fresh write time so that no cached view of an older `to` is taken for it.
bool copy_current_file(const std::wstring& from, const std::wstring& to)
{
    std::string bytes;
    {
        UniqueHandle in(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!in)
            return GetLastError() == ERROR_FILE_NOT_FOUND;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(in.get(), &size) || size.QuadPart > MAX_SAVED_LIST_FILE_BYTES)
            return false;
        bytes.resize(std::size_t(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() &&
            (!ReadFile(in.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr) ||
             got != bytes.size()))
            return false;
    }
    UniqueHandle out(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    return out && (bytes.empty() ||
                   (WriteFile(out.get(), bytes.data(), DWORD(bytes.size()), &put, nullptr) &&
                    put == bytes.size()));
}

bool flush_file(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

// The new list is made whole beside the old file and then takes its place,
// so that an interrupted save leaves one of the two, never half of one.
bool write_saved_list(const std::vector<ServerEntry>& entries, const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        report_win32_failure("servers.ini (read-only)");
        return false;
    }
    const std::wstring fresh = path + L".new";
    DeleteFileW(fresh.c_str());  // what an interrupted save left
    const char* failed = !copy_current_file(path, fresh)  ? "CopyFile"
                         : !write_entries(entries, fresh) ? "WritePrivateProfileStringW"
                         : !flush_file(fresh)             ? "FlushFileBuffers"
                         : !MoveFileExW(fresh.c_str(), path.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                             ? "MoveFileExW"
                             : nullptr;
    if (!failed)
        return true;
    report_win32_failure(failed);
    DeleteFileW(fresh.c_str());
    return false;
}

} // namespace

std::wstring default_saved_list_path() { return exe_directory_w() + L"servers.ini"; }

void load_saved_list()
{
    init_saved_list_lock();
    std::vector<ServerEntry> entries = read_saved_list(ui.saved_list_path);
    EnterCriticalSection(&ui.saved_list_lock);
    ui.saved_list = std::move(entries);
    LeaveCriticalSection(&ui.saved_list_lock);
}

bool save_saved_list()
{
    // Only this thread changes the list, so reading it needs no lock.
    if (write_saved_list(ui.saved_list, ui.saved_list_path))
        return true;
    show_message_box(ui.main_window,
                     L"Не удалось сохранить список компьютеров в servers.ini. "
                     L"Изменения действуют до закрытия программы.",
                     MB_ICONWARNING);
    return false;
}
