#include "clipboard/safe_file_name.h"

#include <algorithm>
#include <array>

namespace {

bool is_forbidden_in_name(wchar_t c)
{
    return c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'?' ||
           c == L'*';
}

wchar_t ascii_upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? wchar_t(c - L'a' + L'A') : c;
}

bool same_ascii_letters(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i]))
            return false;
    return true;
}

// Windows maps these to devices in any folder, whatever extension follows
// (nul.txt, "CON .log"); the superscript digits count as digits there.
bool is_device_name(std::wstring_view name)
{
    std::wstring_view stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.remove_suffix(1);
    static constexpr std::array<std::wstring_view, 6> plain = {L"CON", L"PRN", L"AUX", L"NUL",
                                                               L"CONIN$", L"CONOUT$"};
    for (std::wstring_view device : plain)
        if (same_ascii_letters(stem, device))
            return true;
    if (stem.size() != 4)
        return false;
    const bool port = same_ascii_letters(stem.substr(0, 3), L"COM") ||
                      same_ascii_letters(stem.substr(0, 3), L"LPT");
    const wchar_t digit = stem[3];
    return port && ((digit >= L'0' && digit <= L'9') || digit == L'\u00B9' ||
                    digit == L'\u00B2' || digit == L'\u00B3');
}

bool is_high_surrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

std::wstring ascii_upper_case(std::wstring_view text)
{
    std::wstring out(text);
    for (wchar_t& c : out)
        c = ascii_upper(c);
    return out;
}

bool given_to_another(const ReceivedNames& names, const std::wstring& given,
                      const std::wstring& clean)
{
    const auto found = names.source_of.find(ascii_upper_case(given));
    return found != names.source_of.end() && found->second != clean;
}

} // namespace

std::wstring safe_file_name(std::wstring_view path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring_view::npos)
        path.remove_prefix(slash + 1);
    std::wstring name;
    name.reserve(path.size() + 1);
    for (wchar_t c : path) {
        if (c == L':')
            continue;
        name.push_back(is_forbidden_in_name(c) ? L'_' : c);
    }
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
        name.pop_back();
    if (name.empty())
        return L"file";
    if (is_device_name(name))
        name.insert(name.begin(), L'_');
    return name;
}

std::wstring fit_file_name(std::wstring_view name, std::size_t room, std::wstring_view tag)
{
    if (tag.empty() && name.size() <= room)
        return std::wstring(name);
    if (tag.size() >= room)
        return {};
    std::wstring_view stem = name;
    std::wstring_view extension;
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring_view::npos && dot > 0 && name.size() - dot > 1 &&
        name.size() - dot - 1 <= MAX_KEPT_EXTENSION_UNITS &&
        tag.size() + name.size() - dot < room) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    const std::size_t most = std::min(stem.size(), room - tag.size() - extension.size());
    for (std::size_t keep = most; keep > 0; --keep) {
        if (is_high_surrogate(stem[keep - 1]))
            continue;
        std::wstring cut(stem.substr(0, keep));
        cut += tag;
        cut += extension;
        // The cut may end in a dot or space, or spell a device name.
        std::wstring fitted = safe_file_name(cut);
        if (fitted.size() <= room)
            return fitted;
    }
    return {};
}

std::wstring name_received_file(ReceivedNames& names, const std::wstring& clean, std::size_t room)
{
    std::wstring given = fit_file_name(clean, room);
    while (given != clean && given_to_another(names, given, clean)) {
        const std::wstring number = L"~" + std::to_wstring(names.next_number++);
        std::wstring tagged = fit_file_name(clean, room, number);
        if (tagged.empty())
            break;  // no room even for a number: the later file replaces the earlier
        given = std::move(tagged);
    }
    if (!given.empty())
        names.source_of[ascii_upper_case(given)] = clean;
    return given;
}
