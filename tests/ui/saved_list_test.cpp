// servers.ini on the real profile functions: what a file loads as, what a
// save writes, passwords that open here and ones that do not, and a save
// that cannot be written.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "credentials/protected_storage.h"
#include "tests/win/test_support.h"
#include "ui/saved_list.h"
#include "ui/ui_state.h"
#include "ui_test_support.h"

namespace {

// Valid Base64 of bytes that no Windows user protected: does not open.
const char* const FOREIGN_PW_ENC = "AQAAANCMnd8BFdERjHoAwE/Cl+sBAAAAYWJjZGVmZ2hpams=";

// One entry as "name|host|port|password|relay_host|relay_port|relay_id".
std::string describe(const ServerEntry& e)
{
    return utf8(e.name) + "|" + utf8(e.host) + "|" + std::to_string(e.port) + "|" + e.password +
           "|" + utf8(e.relay_host) + "|" + std::to_string(e.relay_port) + "|" + utf8(e.relay_id);
}

std::vector<std::string> loaded_list()
{
    std::vector<std::string> out;
    for (const ServerEntry& e : ui.saved_list)
        out.push_back(describe(e));
    return out;
}

// The file as the profile functions see it: sections in file order, each
// with its keys in order, one line per section, as UTF-8.
std::vector<std::string> file_layout(const std::wstring& path)
{
    std::vector<std::string> out;
    std::wstring names(8192, L'\0');
    names.resize(GetPrivateProfileSectionNamesW(names.data(), DWORD(names.size()), path.c_str()));
    for (std::size_t at = 0; at < names.size();) {
        const std::wstring section = names.c_str() + at;
        at += section.size() + 1;
        std::wstring keys(8192, L'\0');
        keys.resize(GetPrivateProfileSectionW(section.c_str(), keys.data(), DWORD(keys.size()),
                                              path.c_str()));
        std::wstring line = L"[" + section + L"]";
        for (std::size_t k = 0; k < keys.size();) {
            const std::wstring pair = keys.c_str() + k;
            k += pair.size() + 1;
            line += L" " + pair;
        }
        out.push_back(utf8(line));
    }
    return out;
}

std::string pw_enc_in(const std::wstring& path, int number)
{
    char value[2048] = {};
    GetPrivateProfileStringA(("Server" + std::to_string(number)).c_str(), "pw_enc", "", value,
                             sizeof value, utf8(path).c_str());
    return value;
}

struct Store : ::testing::Test {
    void SetUp() override
    {
        ui.saved_list_path = dir.file(L"servers.ini");
        ui.saved_list.clear();
    }
    // The fixture is written as Windows writes an INI file: ANSI, CR LF.
    void write_ini(const std::string& utf8_text)
    {
        std::string text;
        for (char c : to_cp1251(utf8_text)) {
            if (c == '\n')
                text += '\r';
            text += c;
        }
        write_file(ui.saved_list_path, text);
    }
    TempDir dir;
};

// Saves while a helper answers the message box the save may show; its text.
std::string save_and_answer_box(bool& saved)
{
    std::string text;
    std::thread answer([&text] {
        if (HWND box = wait_for_dialog(GetCurrentProcessId(), 5000)) {
            text = dialog_text(box);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    saved = save_saved_list();
    answer.join();
    return text;
}

} // namespace

TEST_F(Store, FilesLoadAndSaveInTheirLayout)
{
    struct Case {
        const char* what;
        const char* file;  // null: no file at all
        std::vector<std::string> loaded;
        std::function<void()> change;  // made to the list before the save
        std::vector<std::string> saved;
    };
    const Case cases[] = {
        {"no file: an empty list, and a save makes the file",
         nullptr,
         {},
         [] {
             ServerEntry e;
             e.host = L"10.0.0.7";
             ui.saved_list.push_back(e);
         },
         {"[General] count=1",
          "[Server1] name= ip=10.0.0.7 port=55500 pw_enc= relay_host= relay_port=56000 relay_id="}},
        {"a section with neither address is skipped; the save renumbers",
         "[General]\ncount=3\n[Server1]\nname=Офис\nip=10.0.0.1\nport=5900\n"
         "[Server2]\nname=Пусто\nport=1\n"
         "[Server3]\nname=Дом\nrelay_host=relay.example\nrelay_id=123456789\n",
         {"Офис|10.0.0.1|5900|||56000|", "Дом||55500||relay.example|56000|123456789"},
         nullptr,
         {"[General] count=2",
          "[Server1] name=Офис ip=10.0.0.1 port=5900 pw_enc= relay_host= relay_port=56000 "
          "relay_id=",
          "[Server2] name=Дом ip= port=55500 pw_enc= relay_host=relay.example relay_port=56000 "
          "relay_id=123456789"}},
        {"ports above 65535 keep their low 16 bits",
         "[General]\ncount=1\n[Server1]\nip=10.0.0.2\nport=65537\nrelay_port=131071\n",
         {"|10.0.0.2|1|||65535|"},
         nullptr,
         {"[General] count=1",
          "[Server1] name= ip=10.0.0.2 port=1 pw_enc= relay_host= relay_port=65535 relay_id="}},
        {"deleting the last entry leaves no numbered section",
         "[General]\ncount=1\n[Server1]\nname=A\nip=10.0.0.3\n",
         {"A|10.0.0.3|55500|||56000|"},
         [] { ui.saved_list.clear(); },
         {"[General] count=0"}},
        {"sections above both counts and foreign ones stay as they were",
         "[Other]\nkey=value\n[General]\ncount=2\n[Server1]\nip=10.0.0.4\n[Server2]\nip=10.0.0.5\n"
         "[Server7]\nip=10.0.0.6\n",
         {"|10.0.0.4|55500|||56000|", "|10.0.0.5|55500|||56000|"},
         [] { ui.saved_list.erase(ui.saved_list.begin()); },
         {"[Other] key=value", "[General] count=1", "[Server7] ip=10.0.0.6",
          "[Server1] name= ip=10.0.0.5 port=55500 pw_enc= relay_host= relay_port=56000 "
          "relay_id="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(ui.saved_list_path.c_str());
        if (c.file)
            write_ini(c.file);
        load_saved_list();
        EXPECT_EQ(loaded_list(), c.loaded);
        if (c.change)
            c.change();
        ASSERT_TRUE(save_saved_list());
        EXPECT_EQ(file_layout(ui.saved_list_path), c.saved);
        EXPECT_FALSE(file_exists(ui.saved_list_path + L".new"));
        const std::vector<std::string> in_memory = loaded_list();
        load_saved_list();
        EXPECT_EQ(loaded_list(), in_memory) << "the saved file loads as the list it came from";
    }
}

TEST_F(Store, PasswordsAreStoredProtectedAndForeignOnesAreKept)
{
    write_ini(std::string("[General]\ncount=2\n[Server1]\nname=Чужой\nip=10.0.0.1\npw_enc=") +
              FOREIGN_PW_ENC + "\n[Server2]\nname=Свой\nip=10.0.0.2\n");
    load_saved_list();
    ASSERT_EQ(ui.saved_list.size(), 2u);
    EXPECT_EQ(ui.saved_list[0].password, "") << "asked for at connection time instead";
    ui.saved_list[1].password = "Sekr3t пароль";
    ASSERT_TRUE(save_saved_list());

    EXPECT_EQ(pw_enc_in(ui.saved_list_path, 1), FOREIGN_PW_ENC) << "written back unchanged";
    const std::string mine = pw_enc_in(ui.saved_list_path, 2);
    EXPECT_FALSE(mine.empty());
    EXPECT_EQ(read_file(ui.saved_list_path).find("Sekr3t"), std::string::npos);
    EXPECT_EQ(unprotect_secret(mine), "Sekr3t пароль");

    load_saved_list();
    ASSERT_EQ(ui.saved_list.size(), 2u);
    EXPECT_EQ(ui.saved_list[1].password, "Sekr3t пароль");
    // A password typed for the foreign entry replaces its protected text;
    // clearing ours leaves no password behind.
    ui.saved_list[0].password = "new";
    ui.saved_list[0].kept_pw_enc.clear();
    ui.saved_list[1].password.clear();
    ASSERT_TRUE(save_saved_list());
    EXPECT_EQ(unprotect_secret(pw_enc_in(ui.saved_list_path, 1)), "new");
    EXPECT_EQ(pw_enc_in(ui.saved_list_path, 2), "");
}

TEST_F(Store, FailedSaveIsToldAndChangesNothing)
{
    const std::string before = "[General]\r\ncount=1\r\n[Server1]\r\nname=A\r\nip=10.0.0.1\r\n";
    write_file(ui.saved_list_path, before);
    load_saved_list();
    ServerEntry added;
    added.host = L"10.0.0.2";
    ui.saved_list.push_back(added);

    // A read-only file, and a leftover of an interrupted save that cannot be
    // cleared away (a folder where the new file would go).
    const std::wstring blocker = ui.saved_list_path + L".new";
    const std::function<void(bool)> blocks[] = {
        [&](bool on) {
            SetFileAttributesW(ui.saved_list_path.c_str(),
                               on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
        },
        [&](bool on) {
            on ? CreateDirectoryW(blocker.c_str(), nullptr) : RemoveDirectoryW(blocker.c_str());
        },
    };
    for (const auto& block : blocks) {
        block(true);
        bool saved = true;
        const std::string box = save_and_answer_box(saved);
        block(false);
        EXPECT_FALSE(saved);
        EXPECT_NE(box.find("Не удалось сохранить список компьютеров"), std::string::npos) << box;
        EXPECT_EQ(read_file(ui.saved_list_path), before) << "the old file is whole";
        EXPECT_EQ(loaded_list(), (std::vector<std::string>{"A|10.0.0.1|55500|||56000|",
                                                           "|10.0.0.2|55500|||56000|"}))
            << "the list stays as edited";
    }
    // Nothing in the way any more: the same list is written.
    EXPECT_TRUE(save_saved_list());
    EXPECT_EQ(file_layout(ui.saved_list_path).size(), 3u);
}
