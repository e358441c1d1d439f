#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/ban_list.h"

namespace {

struct BanListTest : ::testing::Test {
    std::string path;
    BanList list;

    void SetUp() override
    {
        auto dir = std::filesystem::temp_directory_path();
        path = (dir / ("banlist_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed())
                       + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name()
                       + ".txt")).string();
        std::remove(path.c_str());
    }
    void TearDown() override { std::remove(path.c_str()); }

    void fail(const std::string& address, std::int64_t now)
    {
        record_failure_at(list, path, address, address + ":1234", now);
    }
    std::string file_text() const
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write_file(const std::string& text) const { std::ofstream(path) << text; }
};

constexpr std::int64_t T0 = 1'800'000'000;

} // namespace

TEST_F(BanListTest, FiveFailuresInTheWindowBanFor1800Seconds)
{
    for (int i = 0; i < 4; ++i)
        fail("10.0.0.1", T0 + i * 100);
    EXPECT_FALSE(is_banned_at(list, "10.0.0.1", T0 + 400));
    testing::internal::CaptureStdout();
    fail("10.0.0.1", T0 + 599);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[!] Неудачная попытка 5/5: 10.0.0.1:1234\n"
                   "[X] ЗАБАНЕН на 30 мин: 10.0.0.1\n");
    EXPECT_TRUE(is_banned_at(list, "10.0.0.1", T0 + 599 + 1799));
    EXPECT_FALSE(is_banned_at(list, "10.0.0.1", T0 + 599 + 1800));  // ended: admitted again
    EXPECT_EQ(file_text(), "10.0.0.1 " + std::to_string(T0 + 599 + 1800) + "\n");
    EXPECT_EQ(list["10.0.0.1"].failures, 0);
    EXPECT_FALSE(is_banned_at(list, "10.0.0.2", T0 + 600));
}

TEST_F(BanListTest, WindowIsFixedFromTheFirstFailure)
{
    for (int i = 0; i < 4; ++i)
        fail("10.0.0.1", T0 + i * 10);
    testing::internal::CaptureStdout();
    fail("10.0.0.1", T0 + 601);  // more than 600 s after the first: a new window
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[!] Неудачная попытка 1/5: 10.0.0.1:1234\n");
    EXPECT_FALSE(is_banned_at(list, "10.0.0.1", T0 + 602));
    // Exactly 600 s after the first failure still counts in the window.
    BanList other;
    for (int i = 0; i < 4; ++i)
        record_failure_at(other, path, "a", "a", T0);
    record_failure_at(other, path, "a", "a", T0 + 600);
    EXPECT_TRUE(is_banned_at(other, "a", T0 + 600));
}

TEST_F(BanListTest, SuccessClearsTheCountButNotABan)
{
    for (int i = 0; i < 3; ++i)
        fail("10.0.0.1", T0 + i);
    reset_failures(list, "10.0.0.1");
    for (int i = 0; i < 3; ++i)
        fail("10.0.0.1", T0 + 10 + i);
    EXPECT_FALSE(is_banned_at(list, "10.0.0.1", T0 + 20));
    EXPECT_EQ(list["10.0.0.1"].failures, 3);

    list["10.0.0.9"].banned_until = T0 + 100;
    reset_failures(list, "10.0.0.9");
    reset_failures(list, "never.seen");
    EXPECT_TRUE(is_banned_at(list, "10.0.0.9", T0 + 50));
    EXPECT_EQ(list.count("never.seen"), 0u);
}

TEST_F(BanListTest, RewriteKeepsOnlyRunningBansInAddressOrder)
{
    list["10.0.0.3"].banned_until = T0 + 50;
    list["10.0.0.2"].banned_until = T0 - 1;  // ended
    for (int i = 0; i < 5; ++i)
        fail("10.0.0.1", T0);
    EXPECT_EQ(file_text(), "10.0.0.1 " + std::to_string(T0 + 1800) + "\n10.0.0.3 " +
                               std::to_string(T0 + 50) + "\n");
}

TEST_F(BanListTest, LoadSkipsEndedBansAndLaterLinesWin)
{
    write_file("10.0.0.1 " + std::to_string(T0 + 100) + "\n" +
               "10.0.0.2 " + std::to_string(T0) + "\n" +            // ends now: not loaded
               "10.0.0.3 " + std::to_string(T0 - 5) + "\n" +
               "10.0.0.1 " + std::to_string(T0 + 900) + "\n" +
               "10.0.0.5 never\n10.0.0.4 " + std::to_string(T0 + 100) + "\n");
    load_ban_list(list, path, T0);
    EXPECT_EQ(list.size(), 1u);  // reading stops at the first pair that does not parse
    EXPECT_EQ(list["10.0.0.1"].banned_until, T0 + 900);
    EXPECT_EQ(list["10.0.0.1"].failures, 0);
    EXPECT_TRUE(is_banned_at(list, "10.0.0.1", T0 + 899));

    BanList empty;
    load_ban_list(empty, path + ".missing", T0);
    EXPECT_TRUE(empty.empty());
}

TEST_F(BanListTest, OverlongAddressIsCutNotOverflowed)
{
    write_file(std::string(100, 'x') + " " + std::to_string(T0 + 10) + "\n");
    load_ban_list(list, path, T0);
    // The first 63 characters form a token and the rest does not parse as a number.
    EXPECT_LE(list.size(), 1u);
    for (const auto& [address, record] : list)
        EXPECT_LE(address.size(), 63u);
}

TEST_F(BanListTest, UnwritableFileKeepsTheBanInMemory)
{
    const std::string dir_as_file = std::filesystem::temp_directory_path().string();
    for (int i = 0; i < 5; ++i)
        record_failure_at(list, dir_as_file, "10.0.0.7", "x", T0);
    EXPECT_TRUE(is_banned_at(list, "10.0.0.7", T0 + 1));
}
