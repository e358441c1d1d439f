// The edit-computer and password dialogs run on the test thread as the main
// window runs them; a driver thread works them with real window messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <thread>

#include "tests/win/test_support.h"
#include "ui/edit_computer_dialog.h"
#include "ui/password_dialog.h"
#include "ui/toolkit_win.h"
#include "ui_test_support.h"

namespace {

// The visible window of this class that this process shows, or null.
HWND wait_window(const wchar_t* class_name)
{
    HWND found = nullptr;
    wait_until([&] {
        found = FindWindowW(class_name, nullptr);
        return found && IsWindowVisible(found);
    });
    return found;
}

std::wstring text_of(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

void type_into(HWND dialog, int id, const std::wstring& text)
{
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, LPARAM(text.c_str()));
}

void click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// The validation box the dialog shows: its text, after answering it.
std::string answer_box()
{
    HWND box = wait_window(L"OrvaneMsgBox");
    if (!box)
        return "<no box>";
    const std::string text = dialog_text(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    wait_until([box] { return !IsWindow(box); });
    return text;
}

// Runs edit_computer here while `drive` works the dialog from another thread.
bool run_edit(HWND owner, ServerEntry& entry, const std::function<void(HWND)>& drive)
{
    std::thread driver([&drive] {
        if (HWND dialog = wait_window(L"OVEditDlg")) {
            drive(dialog);
            if (IsWindow(dialog))  // a failed expectation must not leave it open
                wait_until([dialog] { return !IsWindow(dialog); }, 3000) ||
                    PostMessageW(dialog, WM_CLOSE, 0, 0);
        }
    });
    const bool result = edit_computer(owner, entry);
    driver.join();
    return result;
}

ServerEntry office()
{
    ServerEntry e;
    e.name = L"Office";
    e.host = L"10.0.0.1";
    e.port = 5900;
    e.password = "Sekr3t";
    e.relay_host = L"relay.example";
    e.relay_port = 56001;
    e.relay_id = L"123456789";
    return e;
}

} // namespace

TEST(EditComputer, NewEntryIsAddedAndAnEntryWithOnlyAnIdIsEdited)
{
    TestParent owner;
    ServerEntry added;
    std::wstring caption;
    bool owner_enabled = true;
    const bool result = run_edit(owner.hwnd, added, [&](HWND dialog) {
        caption = text_of(dialog);
        owner_enabled = IsWindowEnabled(owner.hwnd) != FALSE;
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), owner.hwnd);
        EXPECT_EQ(text_of(GetDlgItem(dialog, PORT_EDIT_ID)), L"55500");
        EXPECT_EQ(text_of(GetDlgItem(dialog, RELAY_PORT_EDIT_ID)), L"56000");
        type_into(dialog, NAME_EDIT_ID, L"Дом");
        type_into(dialog, HOST_EDIT_ID, L" 192.168.1.5 ");  // pasted with blanks
        type_into(dialog, PORT_EDIT_ID, L"");
        type_into(dialog, PASSWORD_EDIT_ID, L"пароль");
        type_into(dialog, RELAY_PORT_EDIT_ID, L"0");
        click(dialog, IDOK);
    });
    EXPECT_EQ(caption, L"Добавить компьютер");
    EXPECT_FALSE(owner_enabled) << "the owner waits while the dialog is open";
    EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    EXPECT_TRUE(result);
    EXPECT_EQ(added.name, L"Дом");
    EXPECT_EQ(added.host, L"192.168.1.5");
    EXPECT_EQ(added.port, 55500) << "empty port";
    EXPECT_EQ(added.password, to_cp1251("пароль"));
    EXPECT_EQ(added.relay_port, 56000) << "port 0";

    ServerEntry only_id;
    only_id.relay_id = L"987654321";
    run_edit(owner.hwnd, only_id, [&](HWND dialog) {
        caption = text_of(dialog);
        click(dialog, IDCANCEL);
    });
    EXPECT_EQ(caption, L"Изменить компьютер");
}

TEST(EditComputer, EachInvalidFormIsToldAndKeepsWhatWasTyped)
{
    struct Case {
        const wchar_t *host, *port, *relay_host, *relay_port, *relay_id;
        const char* message;
    };
    const Case cases[] = {
        {L"", L"", L"", L"", L"", "Укажите IP для прямого подключения или релей."},
        {L"  ", L"", L"", L"", L"123", "Укажите IP для прямого подключения или релей."},
        {L"", L"", L"relay.example", L"", L"", "Для релея нужен ID машины."},
        {L"10.0.0.1", L"", L"relay.example", L"", L"", "Для релея нужен ID машины."},
        {L"10.0.0.1", L"70000", L"", L"", L"", "Порт — число от 1 до 65535."},
    };
    // One dialog through every case: each failure keeps it open.
    ServerEntry entry = office();
    const bool result = run_edit(nullptr, entry, [&](HWND dialog) {
        for (const Case& c : cases) {
            type_into(dialog, HOST_EDIT_ID, c.host);
            type_into(dialog, PORT_EDIT_ID, c.port);
            type_into(dialog, RELAY_HOST_EDIT_ID, c.relay_host);
            type_into(dialog, RELAY_PORT_EDIT_ID, c.relay_port);
            type_into(dialog, RELAY_ID_EDIT_ID, c.relay_id);
            click(dialog, IDOK);
            const std::string message = answer_box();
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_TRUE(IsWindow(dialog) && IsWindowEnabled(dialog)) << c.message;
            EXPECT_EQ(text_of(GetDlgItem(dialog, RELAY_HOST_EDIT_ID)), c.relay_host);
            EXPECT_EQ(text_of(GetDlgItem(dialog, HOST_EDIT_ID)), c.host);
        }
        click(dialog, IDCANCEL);
    });
    EXPECT_FALSE(result);
    EXPECT_EQ(entry, office());
}

TEST(EditComputer, CancelCloseAndEscapeLeaveTheEntryAsItWas)
{
    const std::function<void(HWND)> ways_out[] = {
        [](HWND dialog) { click(dialog, IDCANCEL); },
        [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); },
        [](HWND dialog) {
            HWND edit = GetDlgItem(dialog, NAME_EDIT_ID);
            PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 1);
            PostMessageW(edit, WM_KEYUP, VK_ESCAPE, 0xC0000001);
        },
    };
    TestParent owner;
    for (const auto& leave : ways_out) {
        ServerEntry entry = office();
        const bool result = run_edit(owner.hwnd, entry, [&](HWND dialog) {
            for (int id = NAME_EDIT_ID; id <= RELAY_ID_EDIT_ID; ++id)
                type_into(dialog, id, L"1");
            leave(dialog);
        });
        EXPECT_FALSE(result);
        EXPECT_EQ(entry, office());
        EXPECT_TRUE(IsWindowEnabled(owner.hwnd));
    }
}

TEST(EditComputer, EnterAcceptsAndRelayEntriesKeepTheirAddress)
{
    ServerEntry entry = office();
    const bool result = run_edit(nullptr, entry, [](HWND dialog) {
        type_into(dialog, RELAY_ID_EDIT_ID, L"555");
        HWND edit = GetDlgItem(dialog, RELAY_ID_EDIT_ID);
        PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageW(edit, WM_KEYUP, VK_RETURN, 0xC0000001);
    });
    EXPECT_TRUE(result);
    ServerEntry expected = office();
    expected.relay_id = L"555";
    EXPECT_EQ(entry, expected) << "both routes kept; the relay one is used";
}

TEST(EditComputer, ForeignPasswordStaysUntilOneIsTyped)
{
    ServerEntry entry = office();
    entry.password.clear();
    entry.kept_pw_enc = L"AQAAANCMnd8B";
    run_edit(nullptr, entry, [](HWND dialog) {
        EXPECT_EQ(text_of(GetDlgItem(dialog, PASSWORD_EDIT_ID)), L"");
        type_into(dialog, NAME_EDIT_ID, L"Renamed");
        click(dialog, IDOK);
    });
    EXPECT_EQ(entry.name, L"Renamed");
    EXPECT_EQ(entry.kept_pw_enc, L"AQAAANCMnd8B");

    // A password typed over it replaces it; so does typing and rubbing it
    // out: the user chose no password.
    const std::function<void(HWND)> edits[] = {
        [](HWND edit) { SendMessageW(edit, WM_SETTEXT, 0, LPARAM(L"neu")); },
        [](HWND edit) {
            PostMessageW(edit, WM_CHAR, L'x', 1);
            PostMessageW(edit, WM_CHAR, VK_BACK, 1);
        },
    };
    const char* const results[] = {"neu", ""};
    for (int i = 0; i < 2; ++i) {
        ServerEntry foreign = office();
        foreign.password.clear();
        foreign.kept_pw_enc = L"AQAAANCMnd8B";
        run_edit(nullptr, foreign, [&](HWND dialog) {
            edits[i](GetDlgItem(dialog, PASSWORD_EDIT_ID));
            click(dialog, IDOK);
        });
        EXPECT_EQ(foreign.password, results[i]);
        EXPECT_EQ(foreign.kept_pw_enc, L"") << results[i];
    }
}

namespace {

// Whether a field box's left border, in the middle of its height, is drawn
// in this colour: anti-aliasing spreads a thin line over two columns.
bool border_is(HWND dialog, const FormField& field, Colour colour)
{
    const COLORREF want = to_colorref(colour);
    for (int x = field.box_left - 1; x <= field.box_left + 1; ++x) {
        const COLORREF got = screen_pixel(dialog, x, field.box_top + FIELD_BOX_HEIGHT / 2);
        if (std::abs(GetRValue(got) - GetRValue(want)) +
                std::abs(GetGValue(got) - GetGValue(want)) +
                std::abs(GetBValue(got) - GetBValue(want)) <
            24)
            return true;
    }
    return false;
}

} // namespace

TEST(EditComputer, PaintsTheFormAndTheFocusedFieldFollowsTab)
{
    ServerEntry entry = office();
    run_edit(nullptr, entry, [](HWND dialog) {
        SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        RECT client;
        GetClientRect(dialog, &client);
        EXPECT_EQ(client, RECT({0, 0, 422, 590}));
        const FormField& name = edit_dialog_fields()[0];
        const FormField& host = edit_dialog_fields()[1];
        EXPECT_TRUE(
            wait_until([&] { return screen_pixel(dialog, 4, 4) == to_colorref(Colour::White); }));
        EXPECT_EQ(screen_pixel(dialog, 24, 70), to_colorref(Colour::Card));
        EXPECT_EQ(screen_pixel(dialog, 44, 120), to_colorref(Colour::Field)) << "name box";
        EXPECT_TRUE(wait_until([&] { return border_is(dialog, name, Colour::Accent); }))
            << "the first field has the focus";
        EXPECT_TRUE(border_is(dialog, host, Colour::Line));

        HWND edit = GetDlgItem(dialog, NAME_EDIT_ID);
        PostMessageW(edit, WM_KEYDOWN, VK_TAB, 1);
        PostMessageW(edit, WM_KEYUP, VK_TAB, 0xC0000001);
        EXPECT_TRUE(wait_until([&] { return border_is(dialog, host, Colour::Accent); }));
        EXPECT_TRUE(border_is(dialog, name, Colour::Line));
        EXPECT_FALSE(border_is(dialog, name, Colour::Accent));
        // Buttons sit on the card with its colour in their corners.
        HWND ok = GetDlgItem(dialog, IDOK);
        POINT corner{0, 0};
        MapWindowPoints(ok, dialog, &corner, 1);
        // The button may not have painted yet: wait for it, then look at its corner.
        EXPECT_TRUE(wait_until([&] {
            return screen_pixel(dialog, corner.x + 8, corner.y + 8) == to_colorref(Colour::Accent);
        })) << screen_pixel(dialog, corner.x + 8, corner.y + 8);
        EXPECT_EQ(screen_pixel(dialog, corner.x, corner.y), to_colorref(Colour::Card));
        click(dialog, IDCANCEL);
    });
}

TEST(AskPassword, ReturnsWhatWasTypedUnderTheGivenTitle)
{
    struct Case {
        std::function<void(HWND)> answer;
        bool result;
        std::string password;
    };
    const Case cases[] = {
        {[](HWND d) {
             type_into(d, PASSWORD_EDIT_ID, L"Sekr3t пароль");
             click(d, IDOK);
         },
         true, to_cp1251("Sekr3t пароль")},
        {[](HWND d) { click(d, IDOK); }, true, ""},  // an empty password, confirmed
        {[](HWND d) {
             type_into(d, PASSWORD_EDIT_ID, L"x");
             click(d, IDCANCEL);
         },
         false, "untouched"},
        {[](HWND d) {
             type_into(d, PASSWORD_EDIT_ID, L"x");
             PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
         },
         false, "untouched"},
        {[](HWND d) {
             type_into(d, PASSWORD_EDIT_ID, std::wstring(300, L'я'));
             click(d, IDOK);
         },
         true, std::string(255, '\xFF')},  // the store's limit, in the ANSI code page
    };
    for (const Case& c : cases) {
        std::string password = "untouched";
        std::wstring caption;
        bool owned = true;
        std::thread driver([&] {
            if (HWND dialog = wait_window(L"OVPwDlg")) {
                caption = text_of(dialog);
                owned = GetWindow(dialog, GW_OWNER) != nullptr;
                c.answer(dialog);
            }
        });
        const bool result = ask_password(L"Пароль — Office", password);
        driver.join();
        EXPECT_EQ(caption, L"Пароль — Office");
        EXPECT_FALSE(owned);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(password, c.password);
    }
}
