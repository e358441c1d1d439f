#pragma once
// The relay's line protocol as the agent and viewer speak it: request lines
// and the meaning of answer lines. No sockets here.
#include <cstddef>
#include <string>

// Longest answer kept for each request; longer lines are cut and the rest is
// left unread.
inline constexpr std::size_t REGISTER_ANSWER_MAX = 79;
inline constexpr std::size_t JOIN_ANSWER_MAX = 63;
inline constexpr std::size_t STATUS_ANSWER_MAX = 31;
inline constexpr std::size_t VERSION_ANSWER_MAX = 159;
inline constexpr std::size_t RELAY_ID_MAX = 63;
inline constexpr std::size_t RELAY_VERSION_MAX = 63;

std::string register_request(const std::string& id);  // "-" asks the relay for one
std::string connect_request(const std::string& id);
std::string status_request(const std::string& id);
std::string version_request();

// Feeds one received byte to a line being read: carriage returns are dropped.
// True when the line is complete (line feed seen, or `max` characters kept).
bool add_line_byte(std::string& line, char byte, std::size_t max);

// 1 for exactly "ONLINE", 0 for exactly "OFFLINE", -1 for anything else.
int status_from_answer(const std::string& line);
// The ID after "ID " (at most 63 characters); false when the line is a refusal.
bool id_from_register_answer(const std::string& line, std::string& id);
// The text after "VERSION " (at most 63 characters); false otherwise.
bool version_from_answer(const std::string& line, std::string& version);
