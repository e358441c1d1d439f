// A received MSG_CLIPBOARD payload is whatever the peer chose to send: the
// reader must stop at the first record that reaches past the end and never
// read outside the buffer. The names it yields go through clip_record_name,
// safe_file_name and fit_file_name, whose result must always be one creatable
// name inside the folder: no folder part, no colon, no character Windows
// refuses, no trailing dot or space, and never a device.
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "clipboard/clip_payload.h"
#include "clipboard/safe_file_name.h"

namespace {

wchar_t upper(wchar_t c) { return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c; }

// What Windows opens as a device in any folder: the part before the first
// dot, without trailing spaces, in any case.
bool names_a_device(const std::wstring& name)
{
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    for (wchar_t& c : stem)
        c = upper(c);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (stem == device)
            return true;
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0))
        return false;
    const wchar_t digit = stem[3];
    return (digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

void check_safe(const std::wstring& safe)
{
    if (safe.empty() || safe.back() == L'.' || safe.back() == L' ' || names_a_device(safe))
        std::abort();
    for (wchar_t c : safe)
        if (c < 0x20 || std::wcschr(L"\\/:<>\"|?*", c))  // wcschr also finds the zero
            std::abort();
}

// The cleaned name, then cut to a room chosen by the input.
void check_clean(const std::wstring& raw, std::size_t room)
{
    const std::wstring safe = safe_file_name(raw);
    check_safe(safe);
    if (safe_file_name(safe) != safe)
        std::abort();  // cleaning twice changes nothing
    const std::wstring fitted = fit_file_name(safe, room);
    if (safe.size() <= room ? fitted != safe : fitted.size() > room)
        std::abort();
    if (!fitted.empty())
        check_safe(fitted);
    const std::wstring tagged = fit_file_name(safe, room, L"~2");
    if (tagged.size() > room)
        std::abort();
    if (!tagged.empty())
        check_safe(tagged);
}

std::wstring as_utf16(std::string_view bytes)
{
    std::wstring out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(wchar_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8));
    return out;
}

std::wstring as_latin1(std::string_view bytes)
{
    std::wstring out;
    for (char b : bytes)
        out.push_back(wchar_t(std::uint8_t(b)));
    return out;
}

// A record holding just this name, read back by the reader.
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

void check_kept_bytes(const std::string& kept)
{
    if (kept.size() > MAX_CLIP_NAME_BYTES || kept.find_first_of("\\/") != std::string::npos)
        std::abort();
    if (!kept.empty() && (kept.back() == '.' || kept.back() == ' ' || kept.back() == ':'))
        std::abort();
}

void check_name(const ClipRecord& record)
{
    const std::string_view raw(reinterpret_cast<const char*>(record.name), record.name_len);
    const std::string kept = clip_record_name(record);
    check_kept_bytes(kept);
    const std::size_t room = record.data_len ? record.data[0] : MAX_FILE_NAME_UNITS;
    check_clean(as_utf16(raw), room);
    check_clean(as_latin1(kept), room);

    // Folder parts never change what is kept, however long they make the name.
    const std::string folders = std::string(MAX_CLIP_NAME_BYTES, 'f') + "\\d/";
    if (record_name_of(folders + std::string(raw)) != kept)
        std::abort();

    // A last part over the limit, whose start and end are the input's.
    const std::string filler(MAX_CLIP_NAME_BYTES, 'n');
    const std::string long_kept = record_name_of(std::string(raw) + filler + std::string(raw));
    check_kept_bytes(long_kept);
    check_clean(as_latin1(long_kept), room);

    // A device name chosen by the first byte, in front of the rest of the
    // name: an extension, dots, spaces, colons, anything.
    static constexpr std::array<const char*, 10> devices = {
        "CON", "prn", "Aux", "nul", "COM1", "lpt9", "CONIN$", "conout$", "COM\xB9", "LPT0"};
    const std::string with_device =
        raw.empty() ? std::string(devices[0])
                    : devices[std::uint8_t(raw[0]) % devices.size()] + std::string(raw.substr(1));
    check_clean(as_latin1(with_device), room);
    check_clean(as_latin1(record_name_of(with_device)), room);
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
            check_name(record);
        }
    }
    std::free(payload);
    return 0;
}
