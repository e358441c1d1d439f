#include "clipboard/clipboard_sync.h"

#include <windows.h>
#include <oleidl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "app/win_handles.h"
#include "app/win_util.h"
#include "clipboard/clip_payload.h"
#include "clipboard/safe_file_name.h"

namespace {

const wchar_t* const NOT_SAVED_TEXT = L"Не удалось сохранить полученные файлы.";
const wchar_t* const NO_MEMORY_TEXT = L"Не хватило памяти для буфера обмена.";
const wchar_t* const BUSY_TEXT = L"Буфер обмена занят другим приложением.";
const wchar_t* const SOME_NOT_SAVED_TEXT =
    L"Не все полученные файлы удалось сохранить (мало места на диске или нет доступа) — в "
    L"буфер обмена положены только сохранённые целиком.";

static_assert(sizeof(DROPFILES) == 20, "the drop list's paths start right after its header");

// Units left for a file name in `folder`: a full path stays within MAX_PATH,
// as the file manager and every DragQueryFileW reader expect.
std::size_t name_room(const std::wstring& folder)
{
    const std::size_t used = folder.size() + 1;  // and the backslash
    if (folder.empty() || used >= MAX_PATH - 1)
        return 0;
    return std::min<std::size_t>(MAX_FILE_NAME_UNITS, MAX_PATH - 1 - used);
}

// A fresh folder for one payload: "<temp>Orvane_clip\<tick>_<thread>". The
// results are not checked: an existing folder is simply used, and a missing
// one makes every file fail below. Empty, with nothing created, when there is
// no temporary directory or it leaves no room for a name: a relative folder
// would be wherever the process happens to run (System32 for a service).
std::wstring make_receive_folder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH)
        return {};
    const std::wstring base = std::wstring(temp, n) + L"Orvane_clip";
    wchar_t leaf[16];
    std::swprintf(leaf, 16, L"\\%08x_%04x", unsigned(GetTickCount()),
                  unsigned(GetCurrentThreadId() & 0xFFFF));
    const std::wstring folder = base + leaf;
    if (name_room(folder) == 0)
        return {};
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// True when the file was written whole. One that the disk could not take in
// full is removed: cut short, it would paste as if it were the whole file.
bool write_received_file(const std::wstring& path, const std::uint8_t* data, std::uint64_t size)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    std::uint64_t done = 0;
    while (done < size) {
        const DWORD want = DWORD(std::min<std::uint64_t>(size - done, CLIP_IO_BLOCK));
        DWORD wrote = 0;
        if (!WriteFile(file.get(), data + done, want, &wrote, nullptr) || wrote == 0)
            break;
        done += wrote;
    }
    if (done == size)
        return true;
    file.reset();
    DeleteFileW(path.c_str());
    return false;
}

// The cleaned name, shortened to what the folder has room for; empty when no
// name fits there.
std::wstring received_name(const ClipRecord& record, ReceivedNames& names, std::size_t room)
{
    return name_received_file(names, safe_file_name(utf8_to_wide(clip_record_name(record))), room);
}

// The CF_HDROP block: DROPFILES, then each path with its zero, then one more zero.
UniqueGlobal make_drop_list(const std::vector<std::wstring>& paths)
{
    SIZE_T bytes = sizeof(DROPFILES) + sizeof(wchar_t);
    for (const std::wstring& path : paths)
        bytes += (path.size() + 1) * sizeof(wchar_t);
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, bytes));
    if (!block)
        return block;
    auto* header = static_cast<DROPFILES*>(GlobalLock(block.get()));
    if (!header)
        return UniqueGlobal();
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* at = reinterpret_cast<wchar_t*>(reinterpret_cast<BYTE*>(header) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        std::memcpy(at, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        at += path.size() + 1;
    }
    GlobalUnlock(block.get());
    return block;
}

// Asks the file manager to copy, not move, what is pasted. Without it the
// drop list still works, so its own failures are passed over.
void mark_as_copy()
{
    UniqueGlobal block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD)));
    if (!block)
        return;
    auto* effect = static_cast<DWORD*>(GlobalLock(block.get()));
    if (!effect)
        return;
    *effect = DROPEFFECT_COPY;
    GlobalUnlock(block.get());
    const UINT format = RegisterClipboardFormatW(L"Preferred DropEffect");
    if (format && SetClipboardData(format, block.get()))
        block.release();  // the clipboard's now
}

// Puts the drop list on the clipboard, which owns it afterwards; on failure
// it is freed as `drop` goes.
bool place_drop_list(UniqueGlobal drop, std::wstring& error)
{
    if (!OpenClipboard(nullptr)) {
        error = BUSY_TEXT;
        return false;
    }
    EmptyClipboard();
    const bool placed = SetClipboardData(CF_HDROP, drop.get()) != nullptr;
    if (placed) {
        drop.release();
        mark_as_copy();
    } else {
        error = BUSY_TEXT;
    }
    CloseClipboard();
    return placed;
}

} // namespace

bool apply_clipboard_files(ClipboardSyncState& state, const std::uint8_t* payload,
                           std::size_t size, std::wstring& error)
{
    ClipPayloadReader reader;
    if (!start_clip_payload(reader, payload, size))
        return false;
    const std::wstring folder = make_receive_folder();
    const std::size_t room = name_room(folder);
    ReceivedNames names;
    std::vector<std::wstring> written;
    bool left_out = false;
    for (std::uint32_t i = 0; i < reader.count; ++i) {
        ClipRecord record;
        if (!next_clip_record(reader, record))
            return false;  // files written so far stay; the clipboard is left alone
        const std::wstring name = received_name(record, names, room);
        const std::wstring path = folder + L"\\" + name;
        if (!name.empty() && write_received_file(path, record.data, record.data_len)) {
            written.push_back(path);
        } else {
            left_out = true;            // cannot be created here, or the disk could not take it
            std::erase(written, path);  // an earlier file of the same name is gone with it
        }
    }
    if (written.empty()) {
        error = NOT_SAVED_TEXT;
        return false;
    }
    UniqueGlobal drop = make_drop_list(written);
    if (!drop) {
        error = NO_MEMORY_TEXT;
        return false;
    }
    if (!place_drop_list(std::move(drop), error))
        return false;
    if (left_out)
        error = SOME_NOT_SAVED_TEXT;
    // Our own change: the next capture on this connection must not send it back.
    state.last_sequence = GetClipboardSequenceNumber();
    state.primed = true;
    return true;
}
