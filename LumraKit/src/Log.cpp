#include "LumraKit/Log.hpp"
#include "LumraKit/JSONCoder.hpp"

#include <Platform/Files.hpp>

#include <unistd.h>

namespace LumraKit {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

// Appends `message` with its control characters spelled out, so that text
// from outside (a hook, a request, a notification) can never end the line
// early, forge a line of its own or send a terminal escape to whoever reads
// the log.
void appendEscaped(std::string& line, std::string_view message) {
    for (size_t at = 0; at < message.size(); ++at) {
        auto byte = static_cast<unsigned char>(message[at]);
        bool c1 = byte == 0xC2 && at + 1 < message.size() && static_cast<unsigned char>(message[at + 1]) >= 0x80 &&
                  static_cast<unsigned char>(message[at + 1]) <= 0x9F;
        if (c1) {
            auto code = static_cast<unsigned char>(message[++at]);
            line += "\\u00";
            line += hexDigits[code >> 4];
            line += hexDigits[code & 0xF];
        } else if (byte == '\n') {
            line += "\\n";
        } else if (byte == '\r') {
            line += "\\r";
        } else if (byte == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            line += "\\x";
            line += hexDigits[byte >> 4];
            line += hexDigits[byte & 0xF];
        } else {
            line += static_cast<char>(byte);
        }
    }
}

} // namespace

std::string logLine(Platform::Date time, std::string_view message) {
    std::string line = iso8601(time);
    line.reserve(line.size() + message.size() + 2);
    line += ' ';
    appendEscaped(line, message);
    line += '\n';
    return line;
}

void log(std::string_view message) {
    // A failure has nowhere left to be reported.
    Platform::Files::writeAll(STDERR_FILENO, logLine(Platform::hostClock().now(), message));
}

} // namespace LumraKit
