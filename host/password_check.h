#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Longest first message accepted before authentication: a password needs far
// less, and a peer must not make the agent allocate a large buffer unasked.
inline constexpr std::uint32_t MAX_AUTH_MSG_LEN = 4096 + 1;

// An empty expected password admits anything; otherwise lengths and bytes
// must agree (compared in constant time).
bool password_matches(const std::string& expected, const std::uint8_t* sent, std::size_t size);
