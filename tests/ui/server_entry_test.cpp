// The edit dialog's rules without windows: port text, validation order, the
// password prompt's title.
#include <gtest/gtest.h>

#include "ui/server_entry.h"

TEST(ComputerForm, PortTextGivesThePortTheDefaultOrNothing)
{
    struct Case {
        const wchar_t* text;
        bool valid;
        std::uint16_t port;
    };
    const Case cases[] = {
        {L"", true, 4321},
        {L"0", true, 4321},
        {L"00000", true, 4321},
        {L"1", true, 1},
        {L"65535", true, 65535},
        {L"055500", true, 55500},
        // Cut to 16 bits these would quietly name another port.
        {L"65536", false, 0},
        {L"70000", false, 0},
        {L"99999999999999", false, 0},
        {L"12a", false, 0},
        {L"-1", false, 0},
        {L" 80", false, 0},
    };
    for (const Case& c : cases) {
        const PortText got = parse_port_text(c.text, 4321);
        EXPECT_EQ(got.valid, c.valid) << c.text;
        if (c.valid)
            EXPECT_EQ(got.port, c.port) << c.text;
    }
}

TEST(ComputerForm, ValidationNamesTheFirstProblem)
{
    const wchar_t* const no_route = L"Укажите IP для прямого подключения или релей.";
    const wchar_t* const no_id = L"Для релея нужен ID машины.";
    const wchar_t* const bad_port = L"Порт — число от 1 до 65535.";
    struct Case {
        ComputerForm form;
        const wchar_t* error;
    };
    const Case cases[] = {
        {{L"Office", L"", L"", L"", L"", L""}, no_route},
        {{L"", L"", L"99999", L"", L"", L"ID"}, no_route},  // the route comes first
        {{L"", L"", L"", L"relay", L"", L""}, no_id},
        {{L"", L"10.0.0.1", L"", L"relay", L"", L""}, no_id},
        {{L"", L"10.0.0.1", L"", L"", L"", L"anything"}, nullptr},
        {{L"", L"10.0.0.1", L"", L"relay", L"", L"123"}, nullptr},
        {{L"", L"", L"", L"relay", L"0", L"123"}, nullptr},
        {{L"", L"10.0.0.1", L"65536", L"", L"", L""}, bad_port},
        {{L"", L"", L"", L"relay", L"70000", L"123"}, bad_port},
    };
    for (const Case& c : cases) {
        const wchar_t* got = computer_form_error(c.form);
        EXPECT_EQ(got ? std::wstring(got) : L"", c.error ? std::wstring(c.error) : L"")
            << "host '" << c.form.host.size() << "' relay '" << c.form.relay_host.size() << "'";
    }
}

TEST(ComputerForm, PromptTitleAndModeFollowTheEntry)
{
    ServerEntry named;
    named.name = L"Office";
    named.host = L"10.0.0.1";
    ServerEntry by_id;
    by_id.relay_host = L"relay.example";
    by_id.relay_id = L"123456789";
    by_id.host = L"10.0.0.9";  // a relay host wins
    ServerEntry direct;
    direct.host = L"10.0.0.1";
    EXPECT_EQ(password_prompt_title(named), L"Пароль — Office");
    EXPECT_EQ(password_prompt_title(by_id), L"Пароль — 123456789");
    EXPECT_EQ(password_prompt_title(direct), L"Пароль — 10.0.0.1");

    ServerEntry only_id;
    only_id.relay_id = L"123";
    EXPECT_TRUE(is_new_entry(ServerEntry{}));
    EXPECT_FALSE(is_new_entry(only_id));
    EXPECT_FALSE(is_new_entry(direct));
    EXPECT_EQ(trim_blanks(L" \t10.0.0.1\u00A0 "), L"10.0.0.1");
    EXPECT_EQ(trim_blanks(L"   "), L"");
}
