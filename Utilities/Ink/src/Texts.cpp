#include "Block.hpp"

#include <Terminal/Text.hpp>

namespace Ink::detail {

namespace {

// Greedy wrapping at spaces; a word wider than a line is cut. A text that
// fits is kept as it is, runs of spaces and all, so aligned columns (a
// table, a key-value list) stay aligned.
std::vector<std::string> wrap(std::string_view shown, int width, const Look& look) {
    if (static_cast<int>(Terminal::width(shown)) <= width) return {std::string(shown)};
    std::vector<std::string> lines;
    std::string line;
    int used = 0;
    size_t start = 0;
    while (start <= shown.size()) {
        size_t end = shown.find(' ', start);
        if (end == std::string_view::npos) end = shown.size();
        std::string_view word = shown.substr(start, end - start);
        start = end + 1;
        if (word.empty()) continue;
        std::string piece = fit(word, width, look);
        int columns = static_cast<int>(Terminal::width(piece));
        if (used > 0 && used + 1 + columns > width) {
            lines.push_back(std::move(line));
            line.clear();
            used = 0;
        }
        if (used > 0) {
            line += ' ';
            ++used;
        }
        line += piece;
        used += columns;
    }
    if (used > 0 || lines.empty()) lines.push_back(std::move(line));
    return lines;
}

} // namespace

Block layText(const Text& text, int width, const Context& context) {
    std::string codes(roleCodes(text.role));
    codes += foreground(text.hue);
    Block block;
    for (const std::string& line : wrap(visible(text.content), width, context.look))
        block.lines.push_back(styled(context.look, codes, line));
    return block;
}

Block laySymbol(const Symbol& symbol, int width, const Context& context) {
    return Block{{styled(context.look, foreground(symbol.hue), fit(glyph(symbol.name, context.look), width, context.look))}, {}};
}

Block layMark(const Mark& mark, int width, const Context& context) {
    if (mark.good) {
        std::string shown = std::string(glyph("checkmark", context.look)) + " allowed";
        return Block{{styled(context.look, foreground(Hue::green), fit(shown, width, context.look))}, {}};
    }
    return Block{{styled(context.look, roleCodes(Role::tertiary), fit("unknown", width, context.look))}, {}};
}

} // namespace Ink::detail
