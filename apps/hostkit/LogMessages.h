// Readable texts for the module's log lines (the line number identifies
// the failure).
#pragma once

#include <cstdint>
#include <string>

namespace lustra::cli {

// "field of the background not available (line 680)" and the like.
std::string describeLogLine(int32_t line);

} // namespace lustra::cli
