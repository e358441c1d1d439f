#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// Longest file name Windows creates, in UTF-16 units.
inline constexpr std::size_t MAX_FILE_NAME_UNITS = 255;
// A shortened name keeps what follows its last dot when it is this short.
inline constexpr std::size_t MAX_KEPT_EXTENSION_UNITS = 16;

// The bare file name of a path or received name, made safe to create inside
// one folder: only what follows the last backslash or slash, without colons,
// with characters Windows refuses in names turned into '_', without trailing
// dots and spaces (Windows drops them when it opens a path, so "." and ".."
// would name a folder), "file" when nothing is left, and with '_' in front of
// a device name such as CON or nul.txt, which would open the device.
std::wstring safe_file_name(std::wstring_view path);

// A name made by safe_file_name, cut to at most `room` UTF-16 units when it is
// longer or `tag` is given: the start of the name, then `tag`, then its
// extension, never splitting a surrogate pair, and still safe as above.
// Empty when not even a short name fits.
std::wstring fit_file_name(std::wstring_view name, std::size_t room, std::wstring_view tag = {});

// The names given to the files of one received payload. A name that fits is
// used as it is, so a later file of the same name replaces the earlier one. A
// name that had to be shortened gets a number ("~2", then "~3"...) when its
// short form was already given to another name, so that two long names that
// start alike do not overwrite each other. The numbers run through the whole
// payload: no number is tried twice, so however the names are chosen the
// search stays short.
struct ReceivedNames {
    // Each name given, in ASCII upper case as Windows compares names, to the
    // cleaned name it was given for.
    std::map<std::wstring, std::wstring> source_of;
    unsigned next_number = 2;
};

// The name for the file of the cleaned name `clean` in a folder with `room`
// units left for it; empty when it cannot be given one.
std::wstring name_received_file(ReceivedNames& names, const std::wstring& clean, std::size_t room);
