#include "Ink/Window.hpp"

namespace Ink {

namespace {

void moveTo(std::string& out, size_t line) {
    out += "\x1B[";
    out += std::to_string(line + 1);
    out += ";1H";
}

} // namespace

std::string repaint(const Frame* before, const Frame& after) {
    std::string out;
    // A frame of another height (or none) means the terminal's contents are
    // unknown: clear it, then write the lines that hold something.
    if (before == nullptr || before->lines.size() != after.lines.size()) {
        out = "\x1B[H\x1B[2J";
        for (size_t line = 0; line < after.lines.size(); ++line) {
            if (after.lines[line].empty()) continue;
            moveTo(out, line);
            out += after.lines[line];
        }
        return out;
    }
    for (size_t line = 0; line < after.lines.size(); ++line) {
        if (after.lines[line] == before->lines[line]) continue;
        moveTo(out, line);
        out += after.lines[line];
        out += "\x1B[K";
    }
    return out;
}

} // namespace Ink
