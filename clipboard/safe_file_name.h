#pragma once
#include <string>
#include <string_view>

// The bare file name of a path or received name, made safe to create inside
// one folder: only what follows the last backslash or slash, without colons,
// with characters Windows refuses in names turned into '_', without trailing
// dots and spaces (Windows drops them when it opens a path, so "." and ".."
// would name a folder), "file" when nothing is left, and with '_' in front of
// a device name such as CON or nul.txt, which would open the device.
std::wstring safe_file_name(std::wstring_view path);
