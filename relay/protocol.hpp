// The relay's line protocol: one request line per connection, answered by one
// line. Pure text handling, no sockets, so it can be unit-tested and fuzzed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvane::relay {

// Longest request line accepted, counted without its line feed. Real requests
// are under 80 bytes; anything near this bound is hostile or broken.
inline constexpr std::size_t max_line_bytes = 256;

// Longest ID we store or hand out. Agents keep at most 63 characters of it.
inline constexpr std::size_t max_id_bytes = 63;

enum class Verb { register_id, connect, status, version };

struct Request {
    Verb verb = Verb::version;
    std::string id;       // empty when the relay is asked to assign one
};

enum class ParseError { none, bad_request, unknown_verb, bad_id };

struct ParseResult {
    Request request;
    ParseError error = ParseError::none;
};

enum class LineStatus { incomplete, complete, too_long };

struct LineScan {
    LineStatus status = LineStatus::incomplete;
    std::size_t length = 0;   // bytes before the line feed, when complete
};

// Looks for the end of the first line in the bytes received so far.
LineScan scan_line(std::string_view received);

// Parses one request line (without its line feed; carriage returns anywhere
// in it are dropped first).
ParseResult parse_request(std::string_view line);

// Latin letters and digits, 1 to max_id_bytes long.
bool is_valid_id(std::string_view id);

// Answer lines, each with its line feed.
inline constexpr std::string_view answer_ok = "OK\n";
inline constexpr std::string_view answer_online = "ONLINE\n";
inline constexpr std::string_view answer_offline = "OFFLINE\n";
inline constexpr std::string_view answer_id_in_use = "ERR id in use\n";
inline constexpr std::string_view answer_not_online = "ERR offline\n";
inline constexpr std::string_view answer_line_too_long = "ERR line too long\n";
inline constexpr std::string_view answer_server_full = "ERR server full\n";
inline constexpr std::string_view answer_unexpected_data = "ERR unexpected data\n";
inline constexpr std::string_view answer_no_free_id = "ERR no free id\n";
inline constexpr std::string_view answer_too_many_lookups = "ERR too many requests\n";

std::string id_answer(std::string_view id);            // "ID <id>\n"
std::string version_answer(std::string_view version);  // "VERSION <text>\n"
std::string_view error_answer(ParseError error);

// Short name of a request or an error for log lines.
std::string_view verb_name(Verb verb);
std::string_view error_name(ParseError error);

}  // namespace orvane::relay
