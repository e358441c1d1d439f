#pragma once
#include <string>

// Asks for a remote computer's password in a modal window of its own with
// `title` as its caption and no owner. True when the user confirmed, with the
// typed text (ANSI code page, at most 255 bytes, maybe empty) in `password`;
// false on cancel or close, `password` untouched.
bool ask_password(const std::wstring& title, std::string& password);
