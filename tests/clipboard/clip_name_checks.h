#pragma once
// What every received file name must come out as, shared by the fuzz targets
// of the payload reader and of the name cleaning. Each check aborts on a fault.
#include <cstddef>
#include <string>
#include <string_view>

// The bytes of a name read as UTF-16LE (the odd last byte dropped), or one
// unit per byte.
std::wstring as_utf16(std::string_view bytes);
std::wstring as_latin1(std::string_view bytes);

// What clip_record_name keeps is at most MAX_CLIP_NAME_BYTES, has no folder
// part and does not end in a dot, space or colon.
void check_kept_bytes(const std::string& kept);

// safe_file_name of `raw` is one creatable name inside the folder (no folder
// part, no colon, no character Windows refuses, no trailing dot or space, never
// a device), cleaning it again changes nothing, and fit_file_name cuts it to
// `room` units, with or without a tag, keeping all of that.
void check_clean(const std::wstring& raw, std::size_t room);
