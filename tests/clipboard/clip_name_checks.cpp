#include "clip_name_checks.h"

#include <cstdlib>
#include <cwchar>

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

} // namespace

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

void check_kept_bytes(const std::string& kept)
{
    if (kept.size() > MAX_CLIP_NAME_BYTES || kept.find_first_of("\\/") != std::string::npos)
        std::abort();
    if (!kept.empty() && (kept.back() == '.' || kept.back() == ' ' || kept.back() == ':'))
        std::abort();
}

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
