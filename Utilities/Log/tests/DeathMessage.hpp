#pragma once

#include <string>
#include <string_view>

namespace LogTest {

// The death-test pattern that matches a fatal error whole: the prefix, the
// exact text (regex characters escaped) and the line feed.
inline std::string fatal(std::string_view message) {
    std::string pattern = "fatal error: ";
    for (char c : message) {
        if (std::string_view(".[]()^$*+?{}|\\").find(c) != std::string_view::npos) pattern += '\\';
        pattern += c;
    }
    return pattern + "\n";
}

} // namespace LogTest
