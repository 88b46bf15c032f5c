#pragma once

#include <Platform/Clock.hpp>

#include <string>
#include <string_view>

namespace LumraKit {

// The engine's diagnostics: one line on standard error, written in a single
// write so that lines of concurrent writers never mix. The long-running
// service points standard error at the service log.
void log(std::string_view message);

// "<ISO 8601 UTC time> <message>\n", the line `log` writes. The message's
// control characters are escaped, so every entry is one line: a line feed
// as \n, carriage return \r, tab \t, other C0 controls and DEL as \xHH,
// C1 controls as \u00HH.
std::string logLine(Platform::Date time, std::string_view message);

} // namespace LumraKit
