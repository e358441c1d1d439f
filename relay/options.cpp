#include "relay/options.hpp"

#include <charconv>

namespace orvane::relay {
namespace {

bool parse_unsigned(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value <= max;
}

bool parse_count(const std::string& text, std::size_t& out) {
    std::uint64_t value = 0;
    if (!parse_unsigned(text, 10'000'000, value)) return false;
    out = static_cast<std::size_t>(value);
    return true;
}

}  // namespace

bool split_host_port(const std::string& text, std::string& host, std::uint16_t& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string name = text.substr(0, colon);
    if (name.front() == '[') {
        if (name.size() < 3 || name.back() != ']') return false;
        name = name.substr(1, name.size() - 2);
    } else if (name.find(':') != std::string::npos) {
        return false;   // an IPv6 address without brackets is ambiguous
    }
    std::uint64_t value = 0;
    if (!parse_unsigned(text.substr(colon + 1), 65535, value)) return false;
    host = name;
    port = static_cast<std::uint16_t>(value);
    return true;
}

OptionsResult parse_options(const std::vector<std::string>& args) {
    OptionsResult result;
    Options& o = result.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        const bool takes_value = arg == "--listen" || arg == "--max-connections" ||
                                 arg == "--max-per-address" || arg == "--max-lookups";
        if (!takes_value) {
            result.error = "unknown option: " + arg;
            return result;
        }
        if (i + 1 >= args.size()) {
            result.error = arg + " needs a value";
            return result;
        }
        const std::string& value = args[++i];
        bool ok = false;
        if (arg == "--listen") ok = split_host_port(value, o.host, o.port);
        else if (arg == "--max-connections") ok = parse_count(value, o.max_connections) && o.max_connections > 0;
        else if (arg == "--max-per-address") ok = parse_count(value, o.max_per_address);
        else ok = parse_count(value, o.max_lookups);
        if (!ok) {
            result.error = "bad value for " + arg + ": " + value;
            return result;
        }
    }
    return result;
}

std::string usage_text() {
    return
        "Usage: orvane-relay [--listen ADDR:PORT] [--max-connections N]\n"
        "                    [--max-per-address N] [--max-lookups N] [--help]\n"
        "\n"
        "Rendezvous server for Orvane agents and viewers. Agents register under an\n"
        "ID, viewers connect by that ID, and the relay joins the two connections\n"
        "into one byte pipe.\n"
        "\n"
        "  --listen ADDR:PORT     address to listen on (default 0.0.0.0:56000;\n"
        "                         IPv6 as [::]:56000; port 0 picks a free port,\n"
        "                         the first log line names the bound address)\n"
        "  --max-connections N    open connections held at once, of every kind\n"
        "                         (default 16384; lowered to fit the process's\n"
        "                         file limit). Beyond it, new connections get\n"
        "                         \"ERR server full\" and are closed.\n"
        "  --max-per-address N    open connections from one remote address\n"
        "                         (default 1024; 0 means no limit)\n"
        "  --max-lookups N        connect and status requests one address may\n"
        "                         make a minute (default 300; 0 means no limit):\n"
        "                         a burst of N, then one every 60/N seconds.\n"
        "                         Beyond it they get \"ERR too many requests\",\n"
        "                         so IDs cannot be swept for online agents. An\n"
        "                         IPv6 address counts by its /64 network.\n"
        "  --help                 show this text\n"
        "\n"
        "Memory: about 2 KiB per open connection. A joined pair adds at most\n"
        "2 x 256 KiB of buffers while data flows through it, none while it is\n"
        "idle; up to 4 MiB of freed buffers are kept for reuse. The system's\n"
        "socket buffers come on top.\n"
        "\n"
        "Requests (one line each): OVRELAY1 A <id>|-, OVRELAY1 C <id>,\n"
        "OVRELAY1 S <id>, OVRELAY1 V -. IDs are Latin letters and digits, at most\n"
        "63 of them; assigned IDs are 9 random digits. A request line longer than\n"
        "256 bytes, or one not finished within 10 seconds, is refused and the\n"
        "connection closed. Registrations use TCP keep-alive, so an agent that\n"
        "vanished without closing frees its ID within about a minute.\n"
        "One log line per registration, join, close and refusal goes to stdout.\n";
}

}  // namespace orvane::relay
