// Feeds arbitrary bytes through the request line scanner and parser, as the
// relay does with what a connection sends, and checks what they promise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "relay/protocol.hpp"

using namespace orvane::relay;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const LineScan scan = scan_line(received);
    if (scan.status == LineStatus::too_long && size <= max_line_bytes) std::abort();
    if (scan.status != LineStatus::complete) return 0;
    if (scan.length > max_line_bytes || received[scan.length] != '\n') std::abort();

    const std::string_view line = received.substr(0, scan.length);
    const ParseResult parsed = parse_request(line);
    if (parsed.error != ParseError::none) return 0;

    // An accepted request is exactly the canonical line once carriage returns go.
    std::string canonical;
    for (char c : line) {
        if (c != '\r') canonical.push_back(c);
    }
    const Request& r = parsed.request;
    const char* verbs = "ACSV";
    std::string rebuilt = std::string("OVRELAY1 ") + verbs[static_cast<int>(r.verb)] + " " +
                          (r.id.empty() ? std::string("-") : r.id);
    if (rebuilt != canonical) std::abort();
    if (!r.id.empty() && !is_valid_id(r.id)) std::abort();
    if (r.id.empty() && r.verb != Verb::register_id && r.verb != Verb::version) std::abort();
    return 0;
}
