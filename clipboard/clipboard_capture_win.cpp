#include "clipboard/clipboard_sync.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <new>

#include "app/win_handles.h"
#include "app/win_util.h"
#include "clipboard/clip_payload.h"
#include "clipboard/safe_file_name.h"

namespace {

const wchar_t* const TOO_MUCH_DATA_TEXT =
    L"Слишком много данных для копирования через буфер обмена (>200 МБ).";
const wchar_t* const FOLDERS_TEXT =
    L"Копирование папок через буфер обмена пока не поддерживается — только отдельные файлы.";

constexpr UINT DROP_PATH_CHARS = 260;

// A file opened for reading with its size; closed when it goes out of scope.
struct ReadableFile {
    UniqueHandle handle;
    std::uint64_t size = 0;
};

bool open_for_reading(const std::wstring& path, ReadableFile& file)
{
    file.handle.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.handle)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.handle.get(), &size))
        return false;
    file.size = std::uint64_t(size.QuadPart);
    return true;
}

// The entries of a drop list that are files, in its order. Folders are not
// carried; `folder_seen` tells that one was left out.
std::vector<std::wstring> dropped_files(HDROP drop, bool& folder_seen)
{
    std::vector<std::wstring> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        wchar_t path[DROP_PATH_CHARS];
        if (DragQueryFileW(drop, i, path, DROP_PATH_CHARS) == 0)
            continue;
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            folder_seen = true;
            continue;
        }
        paths.emplace_back(path);
    }
    return paths;
}

// The sizes of the files that can be opened, added up until they pass the
// limit; taken before anything is read, so a selection that is too large
// costs no reading at all.
std::uint64_t readable_size(const std::vector<std::wstring>& paths)
{
    std::uint64_t total = 0;
    for (const std::wstring& path : paths) {
        ReadableFile file;
        if (open_for_reading(path, file))
            total += file.size;
        if (total > MAX_CLIP_BYTES)
            break;
    }
    return total;
}

bool read_whole_file(HANDLE file, std::uint64_t size, std::vector<std::uint8_t>& data)
{
    data.resize(std::size_t(size));
    std::uint64_t done = 0;
    while (done < size) {
        const DWORD want = DWORD(std::min<std::uint64_t>(size - done, CLIP_IO_BLOCK));
        DWORD got = 0;
        if (!ReadFile(file, data.data() + done, want, &got, nullptr) || got == 0)
            return false;
        done += got;
    }
    return true;
}

// Reads the files whole. A file that cannot be opened or read completely is
// left out; false, with the size text, when the files grew past the limit
// since they were measured.
bool read_files(const std::vector<std::wstring>& paths, std::vector<ClipFile>& files,
                std::wstring& error)
{
    std::uint64_t total = 0;
    for (const std::wstring& path : paths) {
        ReadableFile file;
        if (!open_for_reading(path, file))
            continue;
        total += file.size;  // counted even when the reading fails below
        if (total > MAX_CLIP_BYTES) {
            error = TOO_MUCH_DATA_TEXT;
            return false;
        }
        ClipFile clip;
        if (!read_whole_file(file.handle.get(), file.size, clip.data))
            continue;
        clip.name = wide_to_utf8(safe_file_name(path));
        files.push_back(std::move(clip));
    }
    return true;
}

// With the clipboard open: the payload of its file list, if there is one to send.
bool capture_open_clipboard(std::vector<std::uint8_t>& payload, std::wstring& error)
{
    const auto drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
    if (!drop)
        return false;
    bool folder_seen = false;
    const std::vector<std::wstring> paths = dropped_files(drop, folder_seen);
    if (readable_size(paths) > MAX_CLIP_BYTES) {
        error = TOO_MUCH_DATA_TEXT;
        return false;
    }
    std::vector<ClipFile> files;
    if (!read_files(paths, files, error))
        return false;
    if (files.empty()) {
        if (folder_seen && error.empty())
            error = FOLDERS_TEXT;
        return false;
    }
    write_clip_payload(files, payload);
    return true;
}

} // namespace

bool capture_clipboard_files(ClipboardSyncState& state, std::vector<std::uint8_t>& payload,
                             std::wstring& error)
{
    if (!state.primed) {
        // What is on the clipboard when the connection starts is never sent.
        state.last_sequence = GetClipboardSequenceNumber();
        state.primed = true;
    }
    const DWORD sequence = GetClipboardSequenceNumber();
    if (sequence == state.last_sequence)
        return false;
    // Each change is looked at once, whatever the outcome below.
    state.last_sequence = sequence;
    if (!IsClipboardFormatAvailable(CF_HDROP) || !OpenClipboard(nullptr))
        return false;
    bool captured = false;
    try {
        captured = capture_open_clipboard(payload, error);
    } catch (const std::bad_alloc&) {
        captured = false;  // contents too large for memory: nothing is sent
    }
    CloseClipboard();
    return captured;
}
