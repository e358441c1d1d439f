// Capture against the real clipboard: the test copies files the way the file
// manager does and looks at what would be sent.
#include <gtest/gtest.h>

#include "clipboard/clip_payload.h"
#include "clipboard/clipboard_sync.h"
#include "clipboard_fixture.h"
#include "tests/win/test_support.h"

namespace {

const std::wstring TOO_MUCH_DATA =
    L"Слишком много данных для копирования через буфер обмена (>200 МБ).";
const std::wstring FOLDERS_ONLY =
    L"Копирование папок через буфер обмена пока не поддерживается — только отдельные файлы.";

constexpr std::uint64_t MIB = 1024 * 1024;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A state that has already seen the current clipboard, as after the first
// pass of a connection.
ClipboardSyncState primed_state()
{
    ClipboardSyncState state;
    std::vector<std::uint8_t> payload;
    std::wstring error;
    EXPECT_FALSE(capture_clipboard_files(state, payload, error));
    EXPECT_TRUE(state.primed);
    return state;
}

struct Capture {
    bool sent = false;
    Bytes payload;
    std::wstring error;
};

Capture capture(ClipboardSyncState& state)
{
    Capture c;
    c.sent = capture_clipboard_files(state, c.payload, c.error);
    return c;
}

} // namespace

TEST(ClipboardCapture, OneSmallFileGivesTheExactPayload)
{
    TempDir dir;
    write_file(dir.file(L"a.txt"), "abc");
    ClipboardSyncState state = primed_state();
    place_file_list({dir.file(L"a.txt")});
    const Capture c = capture(state);
    ASSERT_TRUE(c.sent);
    EXPECT_EQ(c.payload, (Bytes{1, 0, 0, 0, 5, 0, 0, 0, 'a', '.', 't', 'x', 't',
                                3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(c.error, L"");
}

TEST(ClipboardCapture, SelectionsDecideWhatIsSent)
{
    enum Kind { FILE_WITH, FOLDER, MISSING, LOCKED, SIZED };
    struct Entry {
        Kind kind;
        std::wstring name;
        std::string contents = {};
        std::uint64_t size = 0;
    };
    struct Sent {
        std::string name;
        std::uint64_t size;
        std::string contents = {};  // checked when the file was made with contents
    };
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        bool sent;
        std::vector<Sent> files;
        std::wstring error;
    };
    const Case cases[] = {
        {"files keep the clipboard's order",
         {{FILE_WITH, L"z.txt", "zz"}, {FILE_WITH, L"a.txt", "a"}},
         true, {{"z.txt", 2, "zz"}, {"a.txt", 1, "a"}}, L""},
        {"an empty file is carried", {{FILE_WITH, L"empty.txt", ""}}, true, {{"empty.txt", 0}}, L""},
        {"a folder beside a file: only the file, no message",
         {{FOLDER, L"dir"}, {FILE_WITH, L"b.txt", "bb"}}, true, {{"b.txt", 2, "bb"}}, L""},
        {"folders only", {{FOLDER, L"one"}, {FOLDER, L"two"}}, false, {}, FOLDERS_ONLY},
        {"a folder and a vanished file", {{FOLDER, L"dir"}, {MISSING, L"gone.txt"}}, false, {},
         FOLDERS_ONLY},
        {"vanished files only", {{MISSING, L"gone.txt"}}, false, {}, L""},
        {"a file locked against reading is left out",
         {{LOCKED, L"locked.txt", "secret"}, {FILE_WITH, L"ok.txt", "ok"}}, true,
         {{"ok.txt", 2, "ok"}}, L""},
        {"exactly 200 MiB together is sent",
         {{SIZED, L"half1.bin", "", 100 * MIB}, {SIZED, L"half2.bin", "", 100 * MIB}}, true,
         {{"half1.bin", 100 * MIB}, {"half2.bin", 100 * MIB}}, L""},
        {"one byte more than 200 MiB is refused",
         {{SIZED, L"big1.bin", "", 100 * MIB}, {SIZED, L"big2.bin", "", 100 * MIB + 1}}, false, {},
         TOO_MUCH_DATA},
        {"the size refusal wins over the folder message",
         {{FOLDER, L"dir"}, {SIZED, L"huge.bin", "", 200 * MIB + 1}}, false, {}, TOO_MUCH_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::vector<std::wstring> paths;
        HANDLE lock = INVALID_HANDLE_VALUE;
        for (const Entry& e : c.entries) {
            const std::wstring path = dir.file(e.name);
            paths.push_back(path);
            if (e.kind == FILE_WITH || e.kind == LOCKED)
                write_file(path, e.contents);
            else if (e.kind == FOLDER)
                CreateDirectoryW(path.c_str(), nullptr);
            else if (e.kind == SIZED)
                make_sized_file(path, e.size);
            if (e.kind == LOCKED)
                lock = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        ClipboardSyncState state = primed_state();
        place_file_list(paths);
        Capture got = capture(state);
        if (lock != INVALID_HANDLE_VALUE)
            CloseHandle(lock);
        EXPECT_EQ(got.sent, c.sent);
        EXPECT_TRUE(got.error == c.error) << utf8(got.error);
        if (got.sent) {
            const std::vector<ReadRecord> records = payload_records(got.payload);
            ASSERT_EQ(records.size(), c.files.size());
            for (std::size_t i = 0; i < records.size(); ++i) {
                EXPECT_EQ(records[i].name, c.files[i].name);
                EXPECT_EQ(records[i].data.size(), c.files[i].size);
                if (!c.files[i].contents.empty()) {
                    EXPECT_EQ(records[i].data, bytes_of(c.files[i].contents));
                }
            }
        }
        got.payload = {};
        // Whatever came of it, this change has been looked at: no second try.
        const Capture again = capture(state);
        EXPECT_FALSE(again.sent);
        EXPECT_EQ(again.error, L"");
    }
}

TEST(ClipboardCapture, AListPresentAtConnectionStartWaitsForTheNextCopy)
{
    TempDir dir;
    write_file(dir.file(L"early.txt"), "early");
    place_file_list({dir.file(L"early.txt")});

    ClipboardSyncState state;  // a new connection
    EXPECT_FALSE(capture(state).sent);
    EXPECT_FALSE(capture(state).sent);

    place_file_list({dir.file(L"early.txt")});
    const Capture c = capture(state);
    ASSERT_TRUE(c.sent);
    EXPECT_EQ(payload_records(c.payload), (std::vector<ReadRecord>{{"early.txt", bytes_of("early")}}));
}

TEST(ClipboardCapture, CopiedTextSendsNothing)
{
    ClipboardSyncState state = primed_state();
    place_text(L"just text");
    const DWORD sequence = GetClipboardSequenceNumber();
    const Capture c = capture(state);
    EXPECT_FALSE(c.sent);
    EXPECT_EQ(c.error, L"");
    EXPECT_EQ(state.last_sequence, sequence);  // the change was consumed
}

TEST(ClipboardCapture, TheSameListCopiedTwiceIsSentTwice)
{
    TempDir dir;
    write_file(dir.file(L"twice.txt"), "2x");
    ClipboardSyncState state = primed_state();
    place_file_list({dir.file(L"twice.txt")});
    const Capture first = capture(state);
    place_file_list({dir.file(L"twice.txt")});
    const Capture second = capture(state);
    ASSERT_TRUE(first.sent);
    ASSERT_TRUE(second.sent);
    EXPECT_EQ(first.payload, second.payload);
    EXPECT_FALSE(capture(state).sent);
}

TEST(ClipboardCapture, NamesLoseTheirFolder)
{
    TempDir dir;
    CreateDirectoryW(dir.file(L"sub").c_str(), nullptr);
    write_file(dir.file(L"sub\\inner.txt"), "in");
    ClipboardSyncState state = primed_state();
    place_file_list({dir.file(L"sub\\inner.txt")});
    const Capture c = capture(state);
    ASSERT_TRUE(c.sent);
    EXPECT_EQ(payload_records(c.payload), (std::vector<ReadRecord>{{"inner.txt", bytes_of("in")}}));
}
