#include "host/allow_list.h"

#include <cctype>
#include <string_view>

#include "app/agent_config.h"

namespace {

std::string_view trim_blanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

bool address_allowed(const std::string& allow, const std::string& address)
{
    std::string_view rest(allow);
    if (rest.size() > ALLOW_FIELD - 1)
        rest = rest.substr(0, ALLOW_FIELD - 1);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view entry = trim_blanks(rest.substr(0, comma));
        if (!entry.empty() && equal_ignoring_case(entry, address))
            return true;
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}
