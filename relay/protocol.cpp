#include "relay/protocol.hpp"

namespace orvane::relay {
namespace {

constexpr std::string_view magic = "OVRELAY1";

bool is_latin_or_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string without_carriage_returns(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line) {
        if (c != '\r') out.push_back(c);
    }
    return out;
}

// Splits "a b c" at single spaces; empty fields (double spaces) make it fail.
bool split_three(std::string_view text, std::string_view (&fields)[3]) {
    for (int i = 0; i < 2; ++i) {
        const std::size_t space = text.find(' ');
        if (space == std::string_view::npos || space == 0) return false;
        fields[i] = text.substr(0, space);
        text.remove_prefix(space + 1);
    }
    if (text.empty() || text.find(' ') != std::string_view::npos) return false;
    fields[2] = text;
    return true;
}

bool parse_verb(std::string_view text, Verb& verb) {
    if (text == "A") verb = Verb::register_id;
    else if (text == "C") verb = Verb::connect;
    else if (text == "S") verb = Verb::status;
    else if (text == "V") verb = Verb::version;
    else return false;
    return true;
}

}  // namespace

LineScan scan_line(std::string_view received) {
    const std::size_t limit = received.size() < max_line_bytes + 1 ? received.size()
                                                                   : max_line_bytes + 1;
    const std::size_t feed = received.substr(0, limit).find('\n');
    if (feed != std::string_view::npos) return {LineStatus::complete, feed};
    if (received.size() > max_line_bytes) return {LineStatus::too_long, 0};
    return {LineStatus::incomplete, 0};
}

bool is_valid_id(std::string_view id) {
    if (id.empty() || id.size() > max_id_bytes) return false;
    for (char c : id) {
        if (!is_latin_or_digit(c)) return false;
    }
    return true;
}

ParseResult parse_request(std::string_view raw_line) {
    const std::string line = without_carriage_returns(raw_line);
    std::string_view fields[3];
    if (!split_three(line, fields) || fields[0] != magic) return {{}, ParseError::bad_request};
    ParseResult result;
    if (!parse_verb(fields[1], result.request.verb)) return {{}, ParseError::unknown_verb};
    const std::string_view arg = fields[2];
    const Verb verb = result.request.verb;
    if (arg == "-" && (verb == Verb::register_id || verb == Verb::version)) return result;
    if (verb == Verb::version || !is_valid_id(arg)) return {{}, ParseError::bad_id};
    result.request.id = std::string(arg);
    return result;
}

std::string id_answer(std::string_view id) {
    std::string out = "ID ";
    out.append(id);
    out.push_back('\n');
    return out;
}

std::string version_answer(std::string_view version) {
    std::string out = "VERSION ";
    out.append(version);
    out.push_back('\n');
    return out;
}

std::string_view error_answer(ParseError error) {
    switch (error) {
        case ParseError::unknown_verb: return "ERR unknown request\n";
        case ParseError::bad_id: return "ERR bad id\n";
        case ParseError::bad_request:
        case ParseError::none: break;
    }
    return "ERR bad request\n";
}

std::string_view verb_name(Verb verb) {
    switch (verb) {
        case Verb::register_id: return "register";
        case Verb::connect: return "connect";
        case Verb::status: return "status";
        case Verb::version: return "version";
    }
    return "?";
}

std::string_view error_name(ParseError error) {
    switch (error) {
        case ParseError::none: return "none";
        case ParseError::bad_request: return "bad request";
        case ParseError::unknown_verb: return "unknown request";
        case ParseError::bad_id: return "bad id";
    }
    return "?";
}

}  // namespace orvane::relay
