#pragma once
// The real clipboard and real files, as the file manager leaves them on copy.
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Replaces the clipboard with a file drop list of these paths.
void place_file_list(const std::vector<std::wstring>& paths);
void place_text(const std::wstring& text);

// The file drop list on the clipboard, as another program would find it.
struct DropList {
    bool present = false;
    DROPFILES header{};
    SIZE_T block_size = 0;
    std::vector<std::wstring> paths;  // read from the block itself
    bool has_effect = false;
    DWORD effect = 0;  // "Preferred DropEffect"
};
DropList clipboard_drop_list();
bool clipboard_has_text();

// A file of `size` bytes made by moving its end: quick even for 100 MiB,
// since nothing is written.
void make_sized_file(const std::wstring& path, std::uint64_t size);

struct ReadRecord {
    std::string name;
    Bytes data;
    bool operator==(const ReadRecord&) const = default;
};
// The records of a payload; fails the test when it is not complete.
std::vector<ReadRecord> payload_records(const Bytes& payload);

void append_u32(Bytes& out, std::uint32_t value);
void append_u64(Bytes& out, std::uint64_t value);
// One record in a hand-made payload.
void append_record(Bytes& out, const std::string& name, const std::string& data);

// "<temp>Orvane_clip", where received payloads get their folders.
std::wstring receive_base();
// The subfolders under receive_base() now.
std::vector<std::wstring> receive_folders();
std::wstring parent_of(const std::wstring& path);
std::wstring leaf_of(const std::wstring& path);
