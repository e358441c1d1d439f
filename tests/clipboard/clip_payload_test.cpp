#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipboard/clip_payload.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

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

struct Read {
    std::string name;
    Bytes data;
    bool operator==(const Read&) const = default;
};

// Every record the reader yields before it stops; `complete` tells whether it
// got through all the records announced.
std::vector<Read> read_all(const Bytes& payload, bool& complete)
{
    std::vector<Read> out;
    complete = false;
    ClipPayloadReader reader;
    if (!start_clip_payload(reader, payload.data(), payload.size()))
        return out;
    for (std::uint32_t i = 0; i < reader.count; ++i) {
        ClipRecord record;
        if (!next_clip_record(reader, record))
            return out;
        out.push_back({std::string(reinterpret_cast<const char*>(record.name), record.name_len),
                       Bytes(record.data, record.data + record.data_len)});
    }
    complete = true;
    return out;
}

} // namespace

TEST(ClipPayload, OneSmallFileByteForByte)
{
    Bytes payload;
    write_clip_payload({{"a.txt", bytes_of("abc")}}, payload);
    const Bytes expected = {1, 0, 0, 0, 5, 0, 0, 0, 'a', '.', 't', 'x', 't',
                            3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(payload, expected);
}

TEST(ClipPayload, WrittenFilesReadBackInOrder)
{
    Bytes big(70000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = std::uint8_t(i * 31 + 7);
    const std::vector<ClipFile> files = {
        {"empty.bin", {}},
        {"", bytes_of("nameless")},
        {"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82.txt", bytes_of("utf-8 name")},  // Отчёт.txt
        {"same.txt", bytes_of("one")},
        {"same.txt", bytes_of("two")},
        {"big.dat", big},
    };
    Bytes payload = {0xEE};  // replaced, not appended to
    write_clip_payload(files, payload);
    bool complete = false;
    const std::vector<Read> got = read_all(payload, complete);
    EXPECT_TRUE(complete);
    ASSERT_EQ(got.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(got[i], (Read{files[i].name, files[i].data})) << i;
}

TEST(ClipPayload, CountDecidesWhetherThePayloadIsLookedAt)
{
    struct Case { Bytes payload; bool accepted; };
    auto with_count = [](std::uint32_t count) {
        Bytes b;
        append_u32(b, count);
        return b;
    };
    const Case cases[] = {
        {{}, false},
        {{1}, false},
        {{1, 0, 0}, false},  // under 4 bytes
        {with_count(0), false},
        {with_count(1), true},
        {with_count(MAX_CLIP_FILES), true},
        {with_count(MAX_CLIP_FILES + 1), false},
        {with_count(0xFFFFFFFF), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.payload));
        ClipPayloadReader reader;
        // A copy of exactly its size, so a read past the end shows under the sanitizer.
        const Bytes exact(c.payload);
        EXPECT_EQ(start_clip_payload(reader, exact.data(), exact.size()), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(reader.count, std::uint32_t(exact[0] | exact[1] << 8 | exact[2] << 16 |
                                                  std::uint32_t(exact[3]) << 24));
        }
    }
}

TEST(ClipPayload, LengthsReachingPastTheEndStopTheReader)
{
    // One record whose fields are given by hand; `tail` bytes follow the name.
    struct Case {
        const char* what;
        std::uint32_t name_len;
        std::size_t name_bytes;
        bool has_data_len;
        std::uint64_t data_len;
        std::size_t data_bytes;
        bool readable;
    };
    const Case cases[] = {
        {"complete", 3, 3, true, 4, 4, true},
        {"empty name and data", 0, 0, true, 0, 0, true},
        {"data exactly to the end", 1, 1, true, 10, 10, true},
        {"data one byte short", 1, 1, true, 10, 9, false},
        {"data length beyond any payload", 1, 1, true, ~std::uint64_t(0), 4, false},
        {"data length 2^63", 1, 1, true, std::uint64_t(1) << 63, 4, false},
        {"data length field cut", 1, 1, false, 0, 0, false},
        {"name one byte short", 5, 4, false, 0, 0, false},
        {"name length beyond any payload", 0xFFFFFFFF, 12, false, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes payload;
        append_u32(payload, 1);
        append_u32(payload, c.name_len);
        payload.insert(payload.end(), c.name_bytes, 'n');
        if (c.has_data_len)
            append_u64(payload, c.data_len);
        payload.insert(payload.end(), c.data_bytes, 'd');
        bool complete = false;
        const std::vector<Read> got = read_all(payload, complete);
        EXPECT_EQ(complete, c.readable);
        EXPECT_EQ(got.size(), c.readable ? 1u : 0u);
    }
}

TEST(ClipPayload, EveryCutYieldsOnlyTheWholeRecordsBeforeIt)
{
    Bytes payload;
    write_clip_payload({{"first.txt", bytes_of("11111")}, {"second.txt", bytes_of("222")}},
                       payload);
    const std::size_t first_end = 4 + 4 + 9 + 8 + 5;
    for (std::size_t cut = 4; cut < payload.size(); ++cut) {
        SCOPED_TRACE(cut);
        Bytes part(payload.begin(), payload.begin() + std::ptrdiff_t(cut));
        part.shrink_to_fit();
        bool complete = true;
        const std::vector<Read> got = read_all(part, complete);
        EXPECT_FALSE(complete);
        EXPECT_EQ(got.size(), cut >= first_end ? 1u : 0u);
    }
}

TEST(ClipPayload, BytesAfterTheLastRecordAreNotRead)
{
    Bytes payload;
    write_clip_payload({{"a", bytes_of("x")}}, payload);
    payload.push_back(0xFF);
    bool complete = false;
    EXPECT_EQ(read_all(payload, complete), (std::vector<Read>{{"a", bytes_of("x")}}));
    EXPECT_TRUE(complete);
}

TEST(ClipPayload, OnlyTheLastPartOfANameIsConvertedAndNeverMoreThanTheLimit)
{
    const std::string folders = [] {
        std::string s;
        while (s.size() < 1100)
            s += "folder\\";
        return s;
    }();
    const std::string long_stem(3000, 'a');
    const std::string e_acute = "\xC3\xA9";  // two bytes
    std::string two_byte_name;
    for (int i = 0; i < 1500; ++i)
        two_byte_name += e_acute;
    struct Case { const char* what; std::string sent; std::string kept; };
    const Case cases[] = {
        {"bare", "a.txt", "a.txt"},
        {"folders of either slash", "x/y\\z/b.txt", "b.txt"},
        {"over the limit in folders only", folders + "evil.txt", "evil.txt"},
        {"over the limit in folders, both slashes", folders + "x/" + "evil.txt", "evil.txt"},
        {"trailing dots, spaces and colons", "a.txt. :. ", "a.txt"},
        {"nothing after the last slash", folders, ""},
        {"only trailing characters", " . :", ""},
        {"colons inside kept", "a:b.txt", "a:b.txt"},
        {"exactly the limit", std::string(MAX_CLIP_NAME_BYTES, 'n'),
         std::string(MAX_CLIP_NAME_BYTES, 'n')},
        {"long: start and end", long_stem + ".txt",
         std::string(MAX_CLIP_NAME_BYTES - 4, 'a') + ".txt"},
        {"long after folders", folders + long_stem + ".txt",
         std::string(MAX_CLIP_NAME_BYTES - 4, 'a') + ".txt"},
        {"long with trailing dots", long_stem + ".txt" + std::string(2000, '.'),
         std::string(MAX_CLIP_NAME_BYTES - 4, 'a') + ".txt"},
        // 960 and 2940 are both even, so the two-byte characters are cut whole.
        {"long, two-byte characters", two_byte_name,
         two_byte_name.substr(0, MAX_CLIP_NAME_BYTES)},
        // Here both cuts fall inside a character and move to its edge.
        {"long, cut inside characters", "x" + two_byte_name + "y",
         "x" + two_byte_name.substr(0, MAX_CLIP_NAME_BYTES - CLIP_NAME_TAIL_BYTES - 2) +
             two_byte_name.substr(0, CLIP_NAME_TAIL_BYTES - 2) + "y"},
        // An end of stray continuation bytes keeps nothing of the end, and the
        // start then stops just after a dot: the dot goes too.
        {"long, ending in stray continuation bytes",
         std::string(950, 'a') + ".b" + std::string(2000, '\x80'), std::string(950, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes payload;
        write_clip_payload({{c.sent, bytes_of("data")}}, payload);
        payload.shrink_to_fit();
        ClipPayloadReader reader;
        ClipRecord record;
        ASSERT_TRUE(start_clip_payload(reader, payload.data(), payload.size()));
        ASSERT_TRUE(next_clip_record(reader, record));
        const std::string kept = clip_record_name(record);
        EXPECT_EQ(kept, c.kept);
        EXPECT_LE(kept.size(), MAX_CLIP_NAME_BYTES);
    }
}
