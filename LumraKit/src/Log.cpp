#include "LumraKit/Log.hpp"
#include "LumraKit/JSONCoder.hpp"

#include <Platform/Files.hpp>

#include <unistd.h>

namespace LumraKit {

std::string logLine(Platform::Date time, std::string_view message) {
    std::string line = iso8601(time);
    line.reserve(line.size() + message.size() + 2);
    line += ' ';
    line += message;
    line += '\n';
    return line;
}

void log(std::string_view message) {
    // A failure has nowhere left to be reported.
    Platform::Files::writeAll(STDERR_FILENO, logLine(Platform::hostClock().now(), message));
}

} // namespace LumraKit
