#pragma once
#include <string>

// Per-user protected text: Base64 of a data-protection blob. Every failure
// gives the empty string, which callers treat as "nothing stored".
std::string protect_secret(const std::string& secret);
std::string unprotect_secret(const std::string& protected_text);

// UTF-16 to the ANSI code page, for texts typed into the interface.
std::string to_ansi(const std::wstring& text);

// Replaces the agent's connection password with a new random one.
void generate_agent_password();

// Stores the current password protected in server.ini and clears the plain key.
void save_agent_password();
