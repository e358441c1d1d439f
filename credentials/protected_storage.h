#pragma once
#include <span>
#include <string>

#include "credentials/password_alphabet.h"

// Per-user protected text: Base64 of a data-protection blob. Every failure
// gives the empty string, which callers treat as "nothing stored".
std::string protect_secret(const std::string& secret);
std::string unprotect_secret(const std::string& protected_text);

// UTF-16 to the ANSI code page, for texts typed into the interface.
std::string to_ansi(const std::wstring& text);

// The system's random generators in the order they are tried.
std::span<const RandomSource> system_random_sources();

// Replaces the agent's connection password with a new random one. False when
// no generator works: the password is then left as it was.
bool generate_agent_password(std::span<const RandomSource> sources = system_random_sources());

// Stores the current password protected in server.ini and clears the plain key.
void save_agent_password();
