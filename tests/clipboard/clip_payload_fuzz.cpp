// A received MSG_CLIPBOARD payload is whatever the peer chose to send: the
// reader must stop at the first record that reaches past the end and never
// read outside the buffer, and the name of every record it yields must come
// out of clip_record_name, safe_file_name and fit_file_name as one creatable
// name inside the folder. Names built around the input's, longer than any
// record could hold, are clip_name_fuzz's: here the work per record stays in
// proportion to its bytes.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "clip_name_checks.h"
#include "clipboard/clip_payload.h"
#include "clipboard/safe_file_name.h"

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
            const std::string_view raw(reinterpret_cast<const char*>(record.name), record.name_len);
            const std::string kept = clip_record_name(record);
            check_kept_bytes(kept);
            const std::size_t room = record.data_len ? record.data[0] : MAX_FILE_NAME_UNITS;
            check_clean(as_utf16(raw), room);
            check_clean(as_latin1(kept), room);
        }
    }
    std::free(payload);
    return 0;
}
