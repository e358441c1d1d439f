#include "clipboard/clip_payload.h"

#include <cstring>
#include <string_view>

namespace {

void put_u32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}

void put_u64(std::uint8_t* at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        at[i] = std::uint8_t(value >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

std::uint64_t get_u64(const std::uint8_t* at)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | at[i];
    return value;
}

bool is_utf8_continuation(char c) { return (std::uint8_t(c) & 0xC0) == 0x80; }

} // namespace

void write_clip_payload(const std::vector<ClipFile>& files, std::vector<std::uint8_t>& out)
{
    std::size_t total = CLIP_COUNT_SIZE;
    for (const ClipFile& f : files)
        total += CLIP_NAME_LEN_SIZE + f.name.size() + CLIP_DATA_LEN_SIZE + f.data.size();
    out.assign(total, 0);
    std::uint8_t* at = out.data();
    put_u32(at, std::uint32_t(files.size()));
    at += CLIP_COUNT_SIZE;
    for (const ClipFile& f : files) {
        put_u32(at, std::uint32_t(f.name.size()));
        at += CLIP_NAME_LEN_SIZE;
        if (!f.name.empty())
            std::memcpy(at, f.name.data(), f.name.size());
        at += f.name.size();
        put_u64(at, f.data.size());
        at += CLIP_DATA_LEN_SIZE;
        if (!f.data.empty())
            std::memcpy(at, f.data.data(), f.data.size());
        at += f.data.size();
    }
}

bool start_clip_payload(ClipPayloadReader& reader, const std::uint8_t* payload, std::size_t size)
{
    reader = ClipPayloadReader{};
    if (size < CLIP_COUNT_SIZE)
        return false;
    const std::uint32_t count = get_u32(payload);
    if (count < 1 || count > MAX_CLIP_FILES)
        return false;
    reader.payload = payload;
    reader.size = size;
    reader.position = CLIP_COUNT_SIZE;
    reader.count = count;
    return true;
}

bool next_clip_record(ClipPayloadReader& reader, ClipRecord& record)
{
    // Every test subtracts from what is left, so no sum can overflow.
    std::size_t at = reader.position;
    if (reader.size - at < CLIP_NAME_LEN_SIZE)
        return false;
    const std::uint32_t name_len = get_u32(reader.payload + at);
    at += CLIP_NAME_LEN_SIZE;
    if (reader.size - at < name_len)
        return false;
    const std::uint8_t* name = reader.payload + at;
    at += name_len;
    if (reader.size - at < CLIP_DATA_LEN_SIZE)
        return false;
    const std::uint64_t data_len = get_u64(reader.payload + at);
    at += CLIP_DATA_LEN_SIZE;
    if (data_len > reader.size - at)
        return false;
    record.name = name;
    record.name_len = name_len;
    record.data = reader.payload + at;
    record.data_len = data_len;
    reader.position = at + std::size_t(data_len);
    return true;
}

std::string clip_record_name(const ClipRecord& record)
{
    // Slashes, dots, spaces and colons never occur inside a UTF-8 sequence,
    // so cutting at them here matches what the cleaning does after conversion.
    std::string_view name(reinterpret_cast<const char*>(record.name), record.name_len);
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    while (!name.empty() && (name.back() == '.' || name.back() == ' ' || name.back() == ':'))
        name.remove_suffix(1);
    if (name.size() <= MAX_CLIP_NAME_BYTES)
        return std::string(name);
    std::size_t head = MAX_CLIP_NAME_BYTES - CLIP_NAME_TAIL_BYTES;
    while (head > 0 && is_utf8_continuation(name[head]))
        --head;
    std::size_t tail = name.size() - CLIP_NAME_TAIL_BYTES;
    while (tail < name.size() && is_utf8_continuation(name[tail]))
        ++tail;
    std::string kept(name.substr(0, head));
    kept += name.substr(tail);
    return kept;
}
