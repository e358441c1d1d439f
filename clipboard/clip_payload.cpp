#include "clipboard/clip_payload.h"

#include <string_view>

namespace {

bool is_utf8_continuation(char c) { return (std::uint8_t(c) & 0xC0) == 0x80; }

// Drops trailing dots and spaces (Windows drops them) and colons (one would
// name a stream).
void trim_name_end(std::string_view& name)
{
    while (!name.empty() && (name.back() == '.' || name.back() == ' ' || name.back() == ':'))
        name.remove_suffix(1);
}

} // namespace

void write_clip_payload(const std::vector<ClipFile>& files, std::vector<std::uint8_t>& out)
{
    std::size_t total = CLIP_COUNT_SIZE;
    for (const ClipFile& f : files)
        total += CLIP_NAME_LEN_SIZE + f.name.size() + CLIP_DATA_LEN_SIZE + f.data.size();
    out.clear();
    out.reserve(total);
    append_le32(out, std::uint32_t(files.size()));
    for (const ClipFile& f : files) {
        append_le32(out, std::uint32_t(f.name.size()));
        out.insert(out.end(), f.name.begin(), f.name.end());
        append_le64(out, f.data.size());
        out.insert(out.end(), f.data.begin(), f.data.end());
    }
}

bool start_clip_payload(ClipPayloadReader& reader, const std::uint8_t* payload, std::size_t size)
{
    reader = ClipPayloadReader{};
    LeReader fields(payload, size);
    std::uint32_t count = 0;
    if (!fields.read_u32(count) || count < 1 || count > MAX_CLIP_FILES)
        return false;
    static_cast<LeReader&>(reader) = fields;
    reader.count = count;
    return true;
}

bool next_clip_record(ClipPayloadReader& reader, ClipRecord& record)
{
    LeReader fields = reader;  // moved on only when the whole record is there
    ClipRecord next;
    if (!fields.read_u32(next.name_len) || !fields.read_bytes(next.name_len, next.name) ||
        !fields.read_u64(next.data_len) || !fields.read_bytes(next.data_len, next.data))
        return false;
    record = next;
    static_cast<LeReader&>(reader) = fields;
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
    trim_name_end(name);
    if (name.size() <= MAX_CLIP_NAME_BYTES)
        return std::string(name);
    std::size_t head = MAX_CLIP_NAME_BYTES - CLIP_NAME_TAIL_BYTES;
    while (head > 0 && is_utf8_continuation(name[head]))
        --head;
    std::size_t tail = name.size() - CLIP_NAME_TAIL_BYTES;
    while (tail < name.size() && is_utf8_continuation(name[tail]))
        ++tail;
    std::string_view start = name.substr(0, head);
    const std::string_view end = name.substr(tail);
    // An end of nothing but stray continuation bytes keeps none of it, and the
    // start may then stop at a dot, space or colon.
    if (end.empty())
        trim_name_end(start);
    std::string kept(start);
    kept += end;
    return kept;
}
