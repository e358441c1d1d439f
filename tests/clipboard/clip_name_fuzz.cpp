// One received file name, chosen whole by the input (its first byte is the
// room left in the folder): whatever is put around it, clip_record_name,
// safe_file_name and fit_file_name must still yield one creatable name inside
// the folder. Folder parts never change what is kept; a name over the limit
// keeps the input's start and end; a device name in front of it is defused.
#include <array>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "clip_name_checks.h"
#include "clipboard/clip_payload.h"
#include "clipboard/safe_file_name.h"

namespace {

// A record holding just this name, written and read back as a payload.
std::string record_name_of(const std::string& name)
{
    std::vector<std::uint8_t> payload;
    write_clip_payload({{name, {}}}, payload);
    ClipPayloadReader reader;
    ClipRecord record;
    if (!start_clip_payload(reader, payload.data(), payload.size()) ||
        !next_clip_record(reader, record))
        std::abort();
    return clip_record_name(record);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t room = size ? data[0] : MAX_FILE_NAME_UNITS;
    const std::string raw =
        size ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : std::string();
    const std::string kept = record_name_of(raw);
    check_kept_bytes(kept);
    check_clean(as_utf16(raw), room);
    check_clean(as_latin1(kept), room);

    // Folder parts never change what is kept, however long they make the name.
    static const std::string folders = std::string(MAX_CLIP_NAME_BYTES, 'f') + "\\d/";
    if (record_name_of(folders + raw) != kept)
        std::abort();

    // A last part over the limit, whose start and end are the input's.
    static const std::string filler(MAX_CLIP_NAME_BYTES, 'n');
    const std::string long_kept = record_name_of(raw + filler + raw);
    check_kept_bytes(long_kept);
    check_clean(as_latin1(long_kept), room);

    // A device name chosen by the name's first byte, in front of the rest of
    // it: an extension, dots, spaces, colons, anything.
    static constexpr std::array<const char*, 10> devices = {
        "CON", "prn", "Aux", "nul", "COM1", "lpt9", "CONIN$", "conout$", "COM\xB9", "LPT0"};
    const std::string with_device =
        raw.empty() ? std::string(devices[0])
                    : devices[std::uint8_t(raw[0]) % devices.size()] + raw.substr(1);
    check_clean(as_latin1(with_device), room);
    check_clean(as_latin1(record_name_of(with_device)), room);
    return 0;
}
