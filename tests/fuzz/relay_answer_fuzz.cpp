// Arbitrary bytes as what a relay answers: every line read from them stays
// within its limit, holds no line ends, and means exactly what it says.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/relay_answers.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads lines as the agent does, one byte at a time, each kept to `max`.
void read_lines(const std::uint8_t* data, std::size_t size, std::size_t max)
{
    std::string line;
    for (std::size_t i = 0; i < size; ++i) {
        if (!add_line_byte(line, char(data[i]), max))
            continue;
        check(line.size() <= max);
        check(line.find_first_of("\r\n") == std::string::npos);
        std::string text;
        if (id_from_register_answer(line, text))
            check(line.rfind("ID ", 0) == 0 && text.size() <= RELAY_ID_MAX &&
                  line.compare(3, text.size(), text) == 0);
        if (version_from_answer(line, text))
            check(line.rfind("VERSION ", 0) == 0 && text.size() <= RELAY_VERSION_MAX);
        const int status = status_from_answer(line);
        check(status == -1 || (status == 1 && line == "ONLINE") ||
              (status == 0 && line == "OFFLINE"));
        line.clear();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t max : {REGISTER_ANSWER_MAX, JOIN_ANSWER_MAX, STATUS_ANSWER_MAX,
                            VERSION_ANSWER_MAX})
        read_lines(data, size, max);
    return 0;
}
