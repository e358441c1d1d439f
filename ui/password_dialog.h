#pragma once
#include <string>

// Asks for a remote computer's password (no owner window). True when the user
// confirmed, with the entered text, which may be empty, in `password`.
bool ask_password(const std::wstring& title, std::string& password);
