#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "app/agent_main.h"
#include "app/agent_state.h"
#include "credentials/password_alphabet.h"
#include "credentials/protected_storage.h"
#include "test_support.h"

TEST(ProtectedStorage, RoundTripsAnySecretWithoutLineBreaks)
{
    const std::string secrets[] = {
        "a", "abc123", std::string(200, 'x'), std::string("with\0zero", 9),
        "пароль по-русски",
    };
    for (const std::string& secret : secrets) {
        std::string text = protect_secret(secret);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(unprotect_secret(text), secret);
    }
}

TEST(ProtectedStorage, EverythingThatCannotBeOpenedIsEmpty)
{
    EXPECT_EQ(protect_secret(""), "");
    EXPECT_EQ(unprotect_secret(""), "");
    EXPECT_EQ(unprotect_secret("@@not base64@@"), "");
    EXPECT_EQ(unprotect_secret("AAAA"), "");                          // three zero bytes
    EXPECT_EQ(unprotect_secret("q83vASNFZ4mrze8BI0VniavN7wEjRWeJ"), ""); // random bytes
}

TEST(ProtectedStorage, GeneratedPasswordsAreSixAlphabetCharacters)
{
    std::string previous;
    for (int i = 0; i < 20; ++i) {
        generate_agent_password();
        std::string password = agent.config.current_password.get();
        ASSERT_EQ(password.size(), 6u);
        EXPECT_EQ(password.find_first_not_of(PASSWORD_ALPHABET), std::string::npos);
        EXPECT_NE(password, previous);
        previous = password;
    }
}

namespace {

bool broken_source(std::uint8_t*, std::size_t) { return false; }

bool zero_source(std::uint8_t* bytes, std::size_t size)
{
    std::memset(bytes, 0, size);
    return true;
}

} // namespace

TEST(ProtectedStorage, EachSystemGeneratorWorksAndABrokenOneIsPassedOver)
{
    for (const RandomSource source : system_random_sources()) {
        std::uint8_t first[16] = {}, second[16] = {};
        EXPECT_TRUE(source(first, sizeof first));
        EXPECT_TRUE(source(second, sizeof second));
        EXPECT_NE(std::memcmp(first, second, sizeof first), 0);
    }
    agent.config.current_password.set("before");
    const RandomSource none_works[] = {broken_source, broken_source};
    EXPECT_FALSE(generate_agent_password(none_works));
    EXPECT_EQ(agent.config.current_password.get(), "before");
    const RandomSource second_works[] = {broken_source, zero_source};
    EXPECT_TRUE(generate_agent_password(second_works));
    EXPECT_EQ(agent.config.current_password.get(), "aaaaaa");
}

// Start-up with nothing stored and no working generator: a clear box, no
// password, nothing written, and the agent does not go on.
TEST(ProtectedStorage, WithoutAGeneratorTheAgentDoesNotStart)
{
    TempDir dir;
    const std::wstring ini = dir.file(L"server.ini");
    write_file(ini, "[server]\npassword=\npassword_enc=\n");
    agent.config.ini_path = utf8(ini);
    agent.config.current_password.set("");
    const RandomSource none_works[] = {broken_source, broken_source};
    bool settled = true;
    std::thread start_up([&] { settled = settle_agent_password(StoredPassword{}, none_works); });
    HWND box = wait_for_dialog(GetCurrentProcessId(), 20000);
    const std::string text = box ? dialog_text(box) : "<no box>";
    if (box)
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    start_up.join();
    agent.config.ini_path.clear();
    EXPECT_FALSE(settled);
    EXPECT_NE(text.find("Не удалось создать пароль: системный генератор случайных чисел не "
                        "работает. Orvane не запущен"),
              std::string::npos)
        << text;
    EXPECT_EQ(agent.config.current_password.get(), "");
    EXPECT_EQ(read_file(ini), "[server]\npassword=\npassword_enc=\n");

    // A stored password needs no generator.
    EXPECT_TRUE(settle_agent_password(StoredPassword{"typed", ""}, none_works));
    EXPECT_EQ(agent.config.current_password.get(), "typed");
}

TEST(ProtectedStorage, SaveWritesOnlyWithAKnownPath)
{
    TempDir dir;
    const std::wstring ini = dir.file(L"server.ini");
    agent.config.current_password.set("s3cret");
    agent.config.ini_path.clear();
    save_agent_password();  // nowhere to write: nothing happens
    EXPECT_FALSE(file_exists(ini));

    write_file(ini, "[server]\npassword=s3cret\n");
    agent.config.ini_path = utf8(ini);
    save_agent_password();
    std::string text = read_file(ini);
    auto at = text.find("password_enc=");
    ASSERT_NE(at, std::string::npos) << text;
    std::string enc = text.substr(at + 13, text.find_first_of("\r\n", at) - at - 13);
    EXPECT_EQ(unprotect_secret(enc), "s3cret");
    EXPECT_NE(text.find("password=\r\n"), std::string::npos) << text;
    agent.config.ini_path.clear();
}

TEST(ProtectedStorage, ToAnsiUsesTheAnsiCodePage)
{
    EXPECT_EQ(to_ansi(L""), "");
    EXPECT_EQ(to_ansi(L"Orvane"), "Orvane");
    EXPECT_EQ(to_ansi(L"Пароль"), to_cp1251("Пароль"));
}
