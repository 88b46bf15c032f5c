#include "LumraKit/Log.hpp"
#include "LumraKit/JSONCoder.hpp"

#include <cerrno>
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
    std::string line = logLine(Platform::hostClock().now(), message);
    std::string_view rest = line;
    while (!rest.empty()) {
        ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return; // nowhere left to report it
        rest.remove_prefix(static_cast<size_t>(written));
    }
}

} // namespace LumraKit
