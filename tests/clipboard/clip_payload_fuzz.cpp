// A received MSG_CLIPBOARD payload is whatever the peer chose to send: the
// reader must stop at the first record that reaches past the end and never
// read outside the buffer. The names it yields go through safe_file_name,
// whose result must always be one creatable name inside the folder.
#include <cstdlib>
#include <cstring>
#include <string>

#include "clipboard/clip_payload.h"
#include "clipboard/safe_file_name.h"

namespace {

void check_name(const std::uint8_t* bytes, std::uint32_t size)
{
    std::wstring name;
    for (std::uint32_t i = 0; i + 1 < size; i += 2)
        name.push_back(wchar_t(bytes[i] | bytes[i + 1] << 8));
    const std::wstring safe = safe_file_name(name);
    if (safe.empty() || safe.find_first_of(L"\\/:") != std::wstring::npos ||
        safe.back() == L'.' || safe.back() == L' ' || safe.find(L'\0') != std::wstring::npos)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact-size copy, so that any read past the end is caught.
    auto* payload = static_cast<std::uint8_t*>(std::malloc(size ? size : 1));
    if (size)
        std::memcpy(payload, data, size);
    ClipPayloadReader reader;
    if (start_clip_payload(reader, payload, size)) {
        for (std::uint32_t i = 0; i < reader.count; ++i) {
            ClipRecord record;
            if (!next_clip_record(reader, record))
                break;
            volatile std::uint8_t touch = 0;
            if (record.data_len)
                touch = record.data[0] ^ record.data[record.data_len - 1];
            (void)touch;
            if (record.name_len <= MAX_CLIP_NAME_BYTES)
                check_name(record.name, record.name_len);
        }
    }
    std::free(payload);
    return 0;
}
