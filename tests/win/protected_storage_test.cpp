#include <gtest/gtest.h>

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
