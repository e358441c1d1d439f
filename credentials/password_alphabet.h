#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Look-alike characters (i, l, o, I, L, O, 0, 1) are left out so a password
// read aloud over the phone survives.
inline constexpr char PASSWORD_ALPHABET[] =
    "abcdefghjkmnpqrstuvwxyzABCDEFGHJKMNPQRSTUVWXYZ23456789";
inline constexpr std::size_t PASSWORD_ALPHABET_SIZE = sizeof(PASSWORD_ALPHABET) - 1;
inline constexpr std::size_t GENERATED_PASSWORD_LENGTH = 6;

// Maps random bytes to a generated password, one character per byte.
std::string password_from_random(const std::uint8_t (&bytes)[GENERATED_PASSWORD_LENGTH]);

// One of the system's random generators: fills `size` bytes; false when it
// failed.
using RandomSource = bool (*)(std::uint8_t* bytes, std::size_t size);

// A generated password from the first source that works, tried in order;
// empty when none does. There is deliberately no weaker fallback: a guessable
// password is worse than no start at all.
std::string password_from_sources(std::span<const RandomSource> sources);
