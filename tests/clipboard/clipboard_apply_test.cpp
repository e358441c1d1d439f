// Apply against the real clipboard and the real temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <thread>

#include "clipboard/clip_payload.h"
#include "clipboard/clipboard_sync.h"
#include "clipboard_fixture.h"
#include "tests/win/test_support.h"

namespace {

const std::wstring NOT_SAVED = L"Не удалось сохранить полученные файлы.";
const std::wstring BUSY = L"Буфер обмена занят другим приложением.";
const std::wstring SOME_NOT_SAVED =
    L"Не все полученные файлы удалось сохранить (мало места на диске или нет доступа) — в "
    L"буфер обмена положены только сохранённые целиком.";

Bytes payload_of(const std::vector<std::pair<std::string, std::string>>& files)
{
    Bytes out;
    append_u32(out, std::uint32_t(files.size()));
    for (const auto& [name, data] : files)
        append_record(out, name, data);
    return out;
}

struct Apply {
    bool placed = false;
    std::wstring error;
};

Apply apply_payload(ClipboardSyncState& state, const Bytes& payload)
{
    Apply a;
    a.placed = apply_clipboard_files(state, payload.data(), payload.size(), a.error);
    return a;
}

// Received folders are kept by the program; the tests remove theirs.
void remove_folder(const std::wstring& folder)
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

// Whether a file of this name can be made and found again under that name.
bool file_system_holds(const TempDir& dir, const std::wstring& name)
{
    write_file(dir.file(name), "probe");
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(dir.file(L"*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    DeleteFileW(dir.file(name).c_str());
    return found.cFileName == name && !file_exists(dir.file(name));
}

// Points every variable GetTempPathW reads at `folder` for as long as it lives.
struct TempFolderSetting {
    static constexpr const wchar_t* names[] = {L"TMP", L"TEMP", L"USERPROFILE"};
    std::vector<std::pair<std::wstring, bool>> saved;  // value, was set

    explicit TempFolderSetting(const std::wstring& folder)
    {
        for (const wchar_t* name : names) {
            wchar_t value[32768];
            const DWORD n = GetEnvironmentVariableW(name, value, 32768);
            saved.emplace_back(std::wstring(value, n), n > 0);
            SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~TempFolderSetting()
    {
        for (std::size_t i = 0; i < saved.size(); ++i)
            SetEnvironmentVariableW(names[i], saved[i].second ? saved[i].first.c_str() : nullptr);
    }
};

// A folder inside `dir` whose path, with its trailing backslash, has `length`
// characters; made through the long-path form, since it may pass 248.
std::wstring make_folder_of_length(const TempDir& dir, std::size_t length)
{
    std::wstring path = dir.path;
    while (path.size() + 1 < length) {
        const std::size_t left = length - path.size();  // each part takes its name and a backslash
        std::size_t part = std::min<std::size_t>(left - 1, 100);
        if (left - (part + 1) == 1)
            --part;  // a last part needs two characters
        path += std::wstring(part, L'd') + L"\\";
        EXPECT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr)) << GetLastError();
    }
    EXPECT_EQ(path.size(), length);
    return path;
}

std::wstring current_directory()
{
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH + 1, path);
    std::wstring dir(path, n <= MAX_PATH ? n : 0);
    if (!dir.empty() && dir.back() != L'\\')
        dir += L'\\';
    return dir;
}

std::vector<std::wstring> entries_of(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

bool is_receive_folder_name(const std::wstring& leaf)
{
    if (leaf.size() != 13 || leaf[8] != L'_')
        return false;
    for (std::size_t i = 0; i < leaf.size(); ++i)
        if (i != 8 && !(std::iswdigit(leaf[i]) || (leaf[i] >= L'a' && leaf[i] <= L'f')))
            return false;
    return true;
}

} // namespace

TEST(ClipboardApply, FilesLandInAFreshFolderAndOnTheClipboardAsACopy)
{
    ClipboardSyncState state;
    const Apply a = apply_payload(state, payload_of({{"a.txt", "abc"}, {"b.bin", std::string(5, '\0')}}));
    ASSERT_TRUE(a.placed);
    EXPECT_EQ(a.error, L"");

    const DropList list = clipboard_drop_list();
    ASSERT_TRUE(list.present);
    ASSERT_EQ(list.paths.size(), 2u);
    const std::wstring folder = parent_of(list.paths[0]);
    EXPECT_EQ(parent_of(folder), receive_base());
    EXPECT_TRUE(is_receive_folder_name(leaf_of(folder))) << utf8(leaf_of(folder));
    wchar_t thread_part[8];
    swprintf(thread_part, 8, L"%04x", unsigned(GetCurrentThreadId() & 0xFFFF));
    EXPECT_EQ(leaf_of(folder).substr(9), thread_part);
    EXPECT_EQ(list.paths[0], folder + L"\\a.txt");
    EXPECT_EQ(list.paths[1], folder + L"\\b.bin");
    EXPECT_EQ(read_file(list.paths[0]), "abc");
    EXPECT_EQ(read_file(list.paths[1]), std::string(5, '\0'));

    // DROPFILES of 20 bytes, wide paths each with its zero, one zero more.
    EXPECT_EQ(list.header.pFiles, 20u);
    EXPECT_EQ(list.header.fWide, TRUE);
    EXPECT_EQ(list.header.fNC, FALSE);
    EXPECT_EQ(list.header.pt.x, 0);
    EXPECT_EQ(list.header.pt.y, 0);
    EXPECT_EQ(list.block_size,
              20 + 2 * (list.paths[0].size() + 1) + 2 * (list.paths[1].size() + 1) + 2);
    // Pasting copies rather than moves.
    EXPECT_TRUE(list.has_effect);
    EXPECT_EQ(list.effect, DWORD(DROPEFFECT_COPY));
    remove_folder(folder);
}

TEST(ClipboardApply, WhatWasJustReceivedIsNotSentBack)
{
    ClipboardSyncState state;
    std::vector<std::uint8_t> payload;
    std::wstring error;
    EXPECT_FALSE(capture_clipboard_files(state, payload, error));  // connection start

    ASSERT_TRUE(apply_payload(state, payload_of({{"back.txt", "x"}})).placed);
    EXPECT_FALSE(capture_clipboard_files(state, payload, error));
    EXPECT_EQ(error, L"");

    // A later copy by the user is sent as usual, here the received file itself.
    const DropList list = clipboard_drop_list();
    ASSERT_EQ(list.paths.size(), 1u);
    place_file_list(list.paths);
    EXPECT_TRUE(capture_clipboard_files(state, payload, error));
    EXPECT_EQ(payload_records(payload), (std::vector<ReadRecord>{{"back.txt", Bytes{'x'}}}));
    remove_folder(parent_of(list.paths[0]));
}

TEST(ClipboardApply, ACaptureAppliedOnTheOtherSideGivesTheSameFiles)
{
    TempDir dir;
    write_file(dir.file(L"one.txt"), "first file");
    write_file(dir.file(L"two.bin"), std::string("\0\1\2\3", 4));
    ClipboardSyncState sender;
    std::vector<std::uint8_t> payload;
    std::wstring error;
    capture_clipboard_files(sender, payload, error);
    place_file_list({dir.file(L"one.txt"), dir.file(L"two.bin")});
    ASSERT_TRUE(capture_clipboard_files(sender, payload, error));

    ClipboardSyncState receiver;
    ASSERT_TRUE(apply_payload(receiver, payload).placed);
    const DropList list = clipboard_drop_list();
    ASSERT_EQ(list.paths.size(), 2u);
    EXPECT_EQ(leaf_of(list.paths[0]), L"one.txt");
    EXPECT_EQ(leaf_of(list.paths[1]), L"two.bin");
    EXPECT_EQ(read_file(list.paths[0]), "first file");
    EXPECT_EQ(read_file(list.paths[1]), std::string("\0\1\2\3", 4));
    remove_folder(parent_of(list.paths[0]));
}

TEST(ClipboardApply, ReceivedNamesStayInsideTheFolderAndOpenNoDevice)
{
    std::string folders;
    while (folders.size() <= MAX_CLIP_NAME_BYTES)
        folders += "deep\\";
    struct Case { std::string sent; std::wstring written; };
    const Case cases[] = {
        {folders + "evil.txt", L"evil.txt"},  // long only in the parts that are dropped
        {"..\\..\\evil.exe", L"evil.exe"},
        {"../../evil2.exe", L"evil2.exe"},
        {"C:\\Windows\\system32\\x.dll", L"x.dll"},
        {"x:y", L"xy"},
        {"", L"file"},
        {".", L"file"},
        {"..", L"file"},
        {"report.txt. ", L"report.txt"},
        {"CON", L"_CON"},
        {"nul.txt", L"_nul.txt"},
        {"com1.log", L"_com1.log"},
        {"a?b.txt", L"a_b.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        ClipboardSyncState state;
        const std::string data = "data of " + c.sent;
        const Apply a = apply_payload(state, payload_of({{c.sent, data}}));
        ASSERT_TRUE(a.placed) << utf8(a.error);
        const DropList list = clipboard_drop_list();
        ASSERT_EQ(list.paths.size(), 1u);
        const std::wstring folder = parent_of(list.paths[0]);
        EXPECT_EQ(parent_of(folder), receive_base());
        EXPECT_EQ(leaf_of(list.paths[0]), c.written);
        EXPECT_EQ(read_file(list.paths[0]), data);  // a real file, not a device
        remove_folder(folder);
    }
    EXPECT_FALSE(file_exists(receive_base() + L"\\evil.exe"));
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_FALSE(file_exists(std::wstring(temp) + L"evil.exe"));
    EXPECT_FALSE(file_exists(std::wstring(temp) + L"evil2.exe"));
}

TEST(ClipboardApply, TheLaterOfTwoSameNamesWinsAndIsListedTwice)
{
    ClipboardSyncState state;
    ASSERT_TRUE(apply_payload(state, payload_of({{"d.txt", "one"}, {"d.txt", "two"}})).placed);
    const DropList list = clipboard_drop_list();
    ASSERT_EQ(list.paths.size(), 2u);
    EXPECT_EQ(list.paths[0], list.paths[1]);
    EXPECT_EQ(read_file(list.paths[0]), "two");
    remove_folder(parent_of(list.paths[0]));
}

TEST(ClipboardApply, PayloadsWithoutAUsableCountTouchNothing)
{
    auto with_count = [](std::uint32_t count, std::uint32_t records) {
        Bytes b;
        append_u32(b, count);
        for (std::uint32_t i = 0; i < records; ++i)
            append_record(b, "n" + std::to_string(i), "d");
        return b;
    };
    struct Case { const char* what; Bytes payload; };
    const Case cases[] = {
        {"empty", {}},
        {"under 4 bytes", {1, 0, 0}},
        {"count 0 with a record behind it", with_count(0, 1)},
        {"count 10001 with all its records", with_count(MAX_CLIP_FILES + 1, MAX_CLIP_FILES + 1)},
        {"count 2^32-1", with_count(0xFFFFFFFF, 1)},
    };
    place_text(L"kept");
    const DWORD sequence = GetClipboardSequenceNumber();
    const std::vector<std::wstring> folders = receive_folders();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClipboardSyncState state;
        const Apply a = apply_payload(state, c.payload);
        EXPECT_FALSE(a.placed);
        EXPECT_EQ(a.error, L"");
        EXPECT_FALSE(state.primed);
    }
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
    EXPECT_TRUE(clipboard_has_text());
    EXPECT_EQ(receive_folders(), folders);
}

TEST(ClipboardApply, TenThousandFilesAreAllPlaced)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (std::uint32_t i = 0; i < MAX_CLIP_FILES; ++i)
        files.emplace_back("f" + std::to_string(i) + ".txt", std::to_string(i));
    ClipboardSyncState state;
    ASSERT_TRUE(apply_payload(state, payload_of(files)).placed);
    const DropList list = clipboard_drop_list();
    ASSERT_EQ(list.paths.size(), MAX_CLIP_FILES);
    EXPECT_EQ(leaf_of(list.paths.back()), L"f9999.txt");
    EXPECT_EQ(read_file(list.paths.back()), "9999");
    remove_folder(parent_of(list.paths[0]));
}

TEST(ClipboardApply, ACutPayloadKeepsTheFilesBeforeTheCutAndLeavesTheClipboard)
{
    const std::string unique = "cut-" + std::to_string(GetTickCount64()) + ".txt";
    Bytes payload;
    append_u32(payload, 2);
    append_record(payload, unique, "whole");
    append_record(payload, "second.txt", "never complete");
    payload.resize(payload.size() - 3);

    place_text(L"before");
    const DWORD sequence = GetClipboardSequenceNumber();
    const std::vector<std::wstring> before = receive_folders();
    ClipboardSyncState state;
    const Apply a = apply_payload(state, payload);
    EXPECT_FALSE(a.placed);
    EXPECT_EQ(a.error, L"");
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
    EXPECT_TRUE(clipboard_has_text());

    std::wstring found;
    for (const std::wstring& folder : receive_folders())
        if (file_exists(folder + L"\\" + wide(unique)))
            found = folder;
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(read_file(found + L"\\" + wide(unique)), "whole");
    EXPECT_FALSE(file_exists(found + L"\\second.txt"));
    if (std::find(before.begin(), before.end(), found) == before.end())
        remove_folder(found);
}

TEST(ClipboardApply, NothingCreatableLeavesTheClipboardWithAMessage)
{
    // A temporary directory that is a file: no folder and no file can be made.
    TempDir dir;
    write_file(dir.file(L"plain"), "not a folder");
    const TempFolderSetting temp(dir.file(L"plain"));
    place_text(L"before");
    const DWORD sequence = GetClipboardSequenceNumber();
    ClipboardSyncState state;
    const Apply a = apply_payload(state, payload_of({{"a.txt", "x"}, {"b.txt", "y"}}));
    EXPECT_FALSE(a.placed);
    EXPECT_EQ(a.error, NOT_SAVED);
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
    EXPECT_FALSE(state.primed);
}

TEST(ClipboardApply, WithoutAUsableTemporaryDirectoryNothingIsWritten)
{
    // Longer than MAX_PATH in every variable GetTempPathW looks at, it fails.
    const std::wstring beyond = L"C:\\" + std::wstring(300, L'x');
    TempDir dir;
    const std::wstring too_deep = make_folder_of_length(dir, 240);
    struct Case { const char* what; std::wstring temp; std::wstring unchanged; };
    // Nothing may appear where the process runs, nor in the deep folder.
    const Case cases[] = {
        {"no temporary directory", beyond, current_directory()},
        {"no room left for a name", too_deep, too_deep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::wstring> before = entries_of(c.unchanged);
        place_text(L"before");
        const DWORD sequence = GetClipboardSequenceNumber();
        ClipboardSyncState state;
        Apply a;
        {
            const TempFolderSetting temp(c.temp);
            a = apply_payload(state, payload_of({{"a.txt", "x"}}));
        }
        EXPECT_FALSE(a.placed);
        EXPECT_EQ(a.error, NOT_SAVED);
        EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
        const std::vector<std::wstring> after = entries_of(c.unchanged);
        EXPECT_EQ(after, before);
        if (after != before)
            remove_folder(c.unchanged + L"Orvane_clip");
    }
}

TEST(ClipboardApply, LongNamesAreShortenedToFitAndKeepTheirExtension)
{
    const std::string shared(250, 'c');
    ClipboardSyncState state;
    const Apply a = apply_payload(state, payload_of({{std::string(300, 'a') + ".txt", "a"},
                                                     {std::string(5000, 'b') + ".log", "b"},
                                                     {shared + "_one.txt", "one"},
                                                     {shared + "_two.txt", "two"}}));
    ASSERT_TRUE(a.placed) << utf8(a.error);
    const DropList list = clipboard_drop_list();
    ASSERT_EQ(list.paths.size(), 4u);
    const std::wstring folder = parent_of(list.paths[0]);
    const std::size_t room = MAX_PATH - 1 - (folder.size() + 1);
    ASSERT_LT(room, 250u);  // a temporary directory of an ordinary length
    EXPECT_EQ(list.paths[0], folder + L"\\" + std::wstring(room - 4, L'a') + L".txt");
    EXPECT_EQ(list.paths[1], folder + L"\\" + std::wstring(room - 4, L'b') + L".log");
    EXPECT_EQ(list.paths[2], folder + L"\\" + std::wstring(room - 4, L'c') + L".txt");
    EXPECT_EQ(list.paths[3], folder + L"\\" + std::wstring(room - 6, L'c') + L"~2.txt");
    const char* contents[] = {"a", "b", "one", "two"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(list.paths[i].size(), std::size_t(MAX_PATH - 1));
        EXPECT_EQ(read_file(list.paths[i]), contents[i]);
    }
    remove_folder(folder);
}

TEST(ClipboardApply, ADeepTemporaryDirectoryShortensNamesToThePathLimit)
{
    TempDir dir;
    const std::wstring deep = make_folder_of_length(dir, 200);
    const std::string name = "the-quarterly-report-of-the-whole-year-final.txt";
    Apply a;
    DropList list;
    {
        const TempFolderSetting temp(deep);
        ClipboardSyncState state;
        a = apply_payload(state, payload_of({{name, "report"}, {"short.txt", "s"}}));
        list = clipboard_drop_list();
    }
    ASSERT_TRUE(a.placed) << utf8(a.error);
    ASSERT_EQ(list.paths.size(), 2u);
    const std::wstring folder = parent_of(list.paths[0]);
    EXPECT_EQ(parent_of(folder), deep + L"Orvane_clip");
    const std::size_t room = MAX_PATH - 1 - (folder.size() + 1);
    ASSERT_LT(room + 4, name.size());
    EXPECT_EQ(leaf_of(list.paths[0]), wide(name.substr(0, room - 4)) + L".txt");
    EXPECT_EQ(list.paths[0].size(), std::size_t(MAX_PATH - 1));
    EXPECT_EQ(read_file(list.paths[0]), "report");
    EXPECT_EQ(list.paths[1], folder + L"\\short.txt");
    EXPECT_EQ(read_file(list.paths[1]), "s");
}

TEST(ClipboardApply, ABusyClipboardKeepsTheFilesWithAMessage)
{
    HANDLE opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // Another program holding the clipboard through its window. (Wine lets a
    // second opener without a window in while the first one also had none.)
    std::thread holder([&] {
        const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, nullptr, nullptr);
        const BOOL ok = OpenClipboard(window);
        EXPECT_TRUE(ok);
        SetEvent(opened);
        WaitForSingleObject(release, INFINITE);
        if (ok)
            CloseClipboard();
        DestroyWindow(window);
    });
    WaitForSingleObject(opened, INFINITE);

    const std::string unique = "busy-" + std::to_string(GetTickCount64()) + ".txt";
    ClipboardSyncState state;
    const Apply a = apply_payload(state, payload_of({{unique, "kept"}}));
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);

    EXPECT_FALSE(a.placed);
    EXPECT_EQ(a.error, BUSY);
    EXPECT_FALSE(state.primed);
    bool kept = false;
    for (const std::wstring& folder : receive_folders())
        if (read_file(folder + L"\\" + wide(unique)) == "kept") {
            kept = true;
            remove_folder(folder);
        }
    EXPECT_TRUE(kept);
}

TEST(ClipboardApply, NamesBeyondAsciiTravelBothWays)
{
    struct Case { std::wstring name; std::string utf8; };
    const Case cases[] = {
        {L"caf\u00E9.txt", "caf\xC3\xA9.txt"},
        {L"\u041E\u0442\u0447\u0451\u0442.txt", "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt"},
    };
    int tried = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        TempDir dir;
        if (!file_system_holds(dir, c.name))
            continue;  // Wine keeps Unix names in its locale's code page
        ++tried;
        write_file(dir.file(c.name), "named");
        ClipboardSyncState sender;
        std::vector<std::uint8_t> payload;
        std::wstring error;
        capture_clipboard_files(sender, payload, error);
        place_file_list({dir.file(c.name)});
        ASSERT_TRUE(capture_clipboard_files(sender, payload, error));
        EXPECT_EQ(payload_records(payload),
                  (std::vector<ReadRecord>{{c.utf8, Bytes{'n', 'a', 'm', 'e', 'd'}}}));

        ClipboardSyncState receiver;
        ASSERT_TRUE(apply_payload(receiver, payload).placed);
        const DropList list = clipboard_drop_list();
        ASSERT_EQ(list.paths.size(), 1u);
        EXPECT_EQ(leaf_of(list.paths[0]), c.name);
        EXPECT_EQ(read_file(list.paths[0]), "named");
        remove_folder(parent_of(list.paths[0]));
    }
    if (tried == 0)
        GTEST_SKIP() << "this Wine cannot store these names: its Unix locale is missing, so "
                        "it falls back to a code page without them";
}

// Run by the clipboard_disk_full_test entry, under a limit on the size of any
// file the process writes: a disk that cannot take a large file.
TEST(ClipboardDiskFull, FilesTheDiskCannotTakeAreLeftOutAndTold)
{
    char limit_text[32] = {};
    if (!GetEnvironmentVariableA("ORVANE_TEST_FILE_SIZE_LIMIT", limit_text, sizeof limit_text))
        GTEST_SKIP() << "runs only under a file size limit";
    const std::size_t limit = std::strtoull(limit_text, nullptr, 10);
    const std::string big(limit + 65536, 'b');

    ClipboardSyncState state;
    const Apply some = apply_payload(
        state, payload_of({{"small.txt", "small"}, {"big.bin", big}, {"after.txt", "after"}}));
    EXPECT_TRUE(some.placed);
    EXPECT_EQ(some.error, SOME_NOT_SAVED);
    const DropList list = clipboard_drop_list();
    ASSERT_EQ(list.paths.size(), 2u);
    EXPECT_EQ(leaf_of(list.paths[0]), L"small.txt");
    EXPECT_EQ(leaf_of(list.paths[1]), L"after.txt");
    const std::wstring folder = parent_of(list.paths[0]);
    EXPECT_EQ(entries_of(folder), (std::vector<std::wstring>{L"after.txt", L"small.txt"}))
        << "no cut-off big.bin left behind";
    remove_folder(folder);

    place_text(L"before");
    const DWORD sequence = GetClipboardSequenceNumber();
    ClipboardSyncState alone;
    const Apply none = apply_payload(alone, payload_of({{"big.bin", big}}));
    EXPECT_FALSE(none.placed);
    EXPECT_EQ(none.error, NOT_SAVED);
    EXPECT_EQ(GetClipboardSequenceNumber(), sequence);
}
