#include "net/relay_answers.h"

std::string register_request(const std::string& id) { return "OVRELAY1 A " + id + "\n"; }
std::string connect_request(const std::string& id) { return "OVRELAY1 C " + id + "\n"; }
std::string status_request(const std::string& id) { return "OVRELAY1 S " + id + "\n"; }
std::string version_request() { return "OVRELAY1 V -\n"; }

bool add_line_byte(std::string& line, char byte, std::size_t max)
{
    if (byte == '\n')
        return true;
    if (byte != '\r')
        line.push_back(byte);
    return line.size() >= max;
}

int status_from_answer(const std::string& line)
{
    if (line == "ONLINE")
        return 1;
    if (line == "OFFLINE")
        return 0;
    return -1;
}

static bool text_after(const std::string& line, const std::string& prefix, std::size_t max,
                       std::string& out)
{
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    out = line.substr(prefix.size(), max);
    return true;
}

bool id_from_register_answer(const std::string& line, std::string& id)
{
    return text_after(line, "ID ", RELAY_ID_MAX, id);
}

bool version_from_answer(const std::string& line, std::string& version)
{
    return text_after(line, "VERSION ", RELAY_VERSION_MAX, version);
}
