#include "Block.hpp"

#include <Terminal/Text.hpp>

#include <algorithm>

namespace Ink::detail {

namespace {

// 256-colour palette entries that read well on dark and light backgrounds.
int colorNumber(Hue hue) {
    switch (hue) {
    case Hue::yellow: return 220;
    case Hue::orange: return 208;
    case Hue::green: return 34;
    case Hue::red: return 160;
    case Hue::accent: return 33;
    case Hue::none: break;
    }
    return -1;
}

} // namespace

std::string foreground(Hue hue) {
    int number = colorNumber(hue);
    return number < 0 ? std::string() : Terminal::ANSI::fg(number);
}

std::string background(Hue hue) {
    int number = colorNumber(hue);
    // Black text on the tint, whatever the terminal's own colours.
    return number < 0 ? std::string() : Terminal::ANSI::bg(number) + Terminal::ANSI::fg(16);
}

std::string_view roleCodes(Role role) {
    switch (role) {
    case Role::largeTitle: return "\x1B[1;4m";
    case Role::title: return Terminal::ANSI::bold;
    case Role::body: return {};
    case Role::caption:
    case Role::secondary:
    case Role::tertiary: return Terminal::ANSI::dim;
    }
    return {};
}

std::string styled(const Look& look, std::string_view codes, std::string_view text) {
    if (!look.color || codes.empty() || text.empty()) return std::string(text);
    std::string out;
    out.reserve(codes.size() + text.size() + Terminal::ANSI::reset.size());
    out.append(codes).append(text).append(Terminal::ANSI::reset);
    return out;
}

std::string fit(std::string_view text, int width, const Look& look) {
    if (width <= 0) return {};
    return Terminal::clip(text, width, look.unicode ? "\u2026" : "~");
}

std::string repeated(std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out.append(piece);
    return out;
}

int Block::width() const {
    int widest = 0;
    for (const std::string& line : lines) widest = std::max(widest, static_cast<int>(Terminal::width(line)));
    return widest;
}

void Block::append(Block other) {
    int offset = static_cast<int>(lines.size());
    if (other.stretch && !stretch) stretch = *other.stretch + offset;
    for (Target& target : other.targets) {
        target.line += offset;
        targets.push_back(std::move(target));
    }
    for (std::string& line : other.lines) lines.push_back(std::move(line));
}

} // namespace Ink::detail
