#pragma once

#include <string>
#include <string_view>

namespace Log::detail {

// Hands one JSON line to the process's shipper, made at the first line.
// False when the line is too large to ship. The first accepted line
// registers flushLog() to run at exit. Called under the output lock.
bool shipLine(const std::string& url, std::string_view line);

} // namespace Log::detail
