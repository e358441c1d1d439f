#include "clipboard_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "clipboard/clip_payload.h"

namespace {

HGLOBAL global_copy(const void* bytes, std::size_t size)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    std::memcpy(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    return block;
}

void replace_clipboard(UINT format, HGLOBAL block)
{
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    EXPECT_TRUE(SetClipboardData(format, block));
    CloseClipboard();
}

} // namespace

void place_file_list(const std::vector<std::wstring>& paths)
{
    std::vector<std::uint8_t> block(sizeof(DROPFILES));
    auto* header = reinterpret_cast<DROPFILES*>(block.data());
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    for (const std::wstring& path : paths) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(path.c_str());
        block.insert(block.end(), p, p + (path.size() + 1) * sizeof(wchar_t));
    }
    block.insert(block.end(), sizeof(wchar_t), 0);
    replace_clipboard(CF_HDROP, global_copy(block.data(), block.size()));
}

void place_text(const std::wstring& text)
{
    replace_clipboard(CF_UNICODETEXT,
                      global_copy(text.c_str(), (text.size() + 1) * sizeof(wchar_t)));
}

DropList clipboard_drop_list()
{
    DropList list;
    if (!OpenClipboard(nullptr)) {
        ADD_FAILURE() << "clipboard busy";
        return list;
    }
    if (HGLOBAL block = GetClipboardData(CF_HDROP)) {
        list.present = true;
        list.block_size = GlobalSize(block);
        const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
        std::memcpy(&list.header, bytes, sizeof list.header);
        // Walk the zero-terminated paths up to the empty one that ends the list.
        const auto* at = reinterpret_cast<const wchar_t*>(bytes + list.header.pFiles);
        const auto* end = reinterpret_cast<const wchar_t*>(bytes + list.block_size);
        while (at < end && *at) {
            std::wstring path(at);
            at += path.size() + 1;
            list.paths.push_back(std::move(path));
        }
        GlobalUnlock(block);
    }
    const UINT effect_format = RegisterClipboardFormatW(L"Preferred DropEffect");
    if (HGLOBAL block = GetClipboardData(effect_format)) {
        list.has_effect = GlobalSize(block) >= sizeof(DWORD);
        if (list.has_effect)
            std::memcpy(&list.effect, GlobalLock(block), sizeof(DWORD));
        GlobalUnlock(block);
    }
    CloseClipboard();
    return list;
}

bool clipboard_has_text() { return IsClipboardFormatAvailable(CF_UNICODETEXT); }

void make_sized_file(const std::wstring& path, std::uint64_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
}

std::vector<ReadRecord> payload_records(const Bytes& payload)
{
    std::vector<ReadRecord> records;
    ClipPayloadReader reader;
    if (!start_clip_payload(reader, payload.data(), payload.size())) {
        ADD_FAILURE() << "payload not accepted";
        return records;
    }
    for (std::uint32_t i = 0; i < reader.count; ++i) {
        ClipRecord record;
        if (!next_clip_record(reader, record)) {
            ADD_FAILURE() << "payload cut at record " << i;
            break;
        }
        records.push_back({std::string(reinterpret_cast<const char*>(record.name), record.name_len),
                           Bytes(record.data, record.data + record.data_len)});
    }
    EXPECT_EQ(reader.position, payload.size());
    return records;
}

void append_u32(Bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void append_u64(Bytes& out, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void append_record(Bytes& out, const std::string& name, const std::string& data)
{
    append_u32(out, std::uint32_t(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    append_u64(out, data.size());
    out.insert(out.end(), data.begin(), data.end());
}

std::wstring receive_base()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, n) + L"Orvane_clip";
}

std::vector<std::wstring> receive_folders()
{
    std::vector<std::wstring> folders;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(receive_base(), ignored))
        folders.push_back(entry.path().wstring());
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::wstring parent_of(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring leaf_of(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }
