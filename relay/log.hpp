// One timestamped line per event on standard output, flushed at once so an
// admin tailing the log or a supervisor capturing it sees events as they happen.
#pragma once

#include <string_view>

namespace orvane::relay {

void log_line(std::string_view text);

}  // namespace orvane::relay
