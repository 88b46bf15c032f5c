#include "Block.hpp"

#include <Terminal/Text.hpp>

#include <algorithm>

namespace Ink::detail {

namespace {

Block layVertical(const std::vector<Element>& children, int gap, int width, const Context& context) {
    Block block;
    for (const Element& child : children) {
        Block laid = lay(child, width, context);
        if (laid.lines.empty()) continue;
        if (!block.lines.empty()) block.lines.insert(block.lines.end(), static_cast<size_t>(std::max(0, gap)), "");
        block.append(std::move(laid));
    }
    return block;
}

Block layHorizontal(const std::vector<Element>& children, int gap, int width, const Context& context) {
    gap = std::max(0, gap);
    std::vector<Block> blocks;
    std::vector<int> widths;
    int left = width;
    for (size_t i = 0; i < children.size(); ++i) {
        bool last = i + 1 == children.size();
        Block laid = lay(children[i], std::max(0, left), context);
        if (laid.lines.empty()) continue;
        int used = last ? std::max(0, left) : laid.width();
        left -= used + gap;
        blocks.push_back(std::move(laid));
        widths.push_back(used);
    }
    Block block;
    size_t height = 0;
    for (const Block& laid : blocks) height = std::max(height, laid.lines.size());
    block.lines.assign(height, "");
    int column = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        bool last = i + 1 == blocks.size();
        for (size_t line = 0; line < height; ++line) {
            std::string cell = line < blocks[i].lines.size() ? blocks[i].lines[line] : "";
            std::string& into = block.lines[line];
            into = Terminal::padEnd(into, column);
            into += last ? cell : Terminal::padEnd(cell, widths[i]);
        }
        for (Target& target : blocks[i].targets) block.targets.push_back(std::move(target));
        column += widths[i] + gap;
    }
    // Reading order: top to bottom, then left to right.
    std::stable_sort(block.targets.begin(), block.targets.end(),
                     [](const Target& a, const Target& b) { return a.line < b.line; });
    for (std::string& line : block.lines) line = fit(line, width, context.look);
    return block;
}

} // namespace

Block layStack(const Stack& stack, int width, const Context& context) {
    return stack.horizontal ? layHorizontal(stack.children, stack.gap, width, context)
                            : layVertical(stack.children, stack.gap, width, context);
}

Block layRow(const Row& row, int width, const Context& context) {
    Block trailing = lay(row.trailing, width, context);
    int trailingWidth = trailing.width();
    Block leading = lay(row.leading, std::max(0, trailingWidth > 0 ? width - trailingWidth - 1 : width), context);
    Block block;
    size_t height = std::max(leading.lines.size(), trailing.lines.size());
    for (size_t line = 0; line < height; ++line) {
        std::string left = line < leading.lines.size() ? leading.lines[line] : "";
        if (line < trailing.lines.size())
            left =
                Terminal::padEnd(left, width - trailingWidth) + Terminal::padStart(trailing.lines[line], trailingWidth);
        block.lines.push_back(std::move(left));
    }
    block.targets = std::move(leading.targets);
    for (Target& target : trailing.targets) block.targets.push_back(std::move(target));
    std::stable_sort(block.targets.begin(), block.targets.end(),
                     [](const Target& a, const Target& b) { return a.line < b.line; });
    return block;
}

Block layCard(const Card& card, int width, const Context& context) {
    const Look& look = context.look;
    if (width < 5) return lay(card.content, width, context);
    std::string_view across = look.unicode ? "\u2500" : "-";
    std::string_view side = look.unicode ? "\u2502" : "|";
    int inner = width - 4;
    Block content = lay(card.content, inner, context);
    std::string_view dim = Terminal::ANSI::dim;
    Block block;
    block.lines.push_back(styled(look, dim,
                                 std::string(look.unicode ? "\u256D" : "+") + repeated(across, width - 2) +
                                     std::string(look.unicode ? "\u256E" : "+")));
    for (const std::string& line : content.lines)
        block.lines.push_back(styled(look, dim, side) + " " + Terminal::padEnd(line, inner) + " " +
                              styled(look, dim, side));
    block.lines.push_back(styled(look, dim,
                                 std::string(look.unicode ? "\u2570" : "+") + repeated(across, width - 2) +
                                     std::string(look.unicode ? "\u256F" : "+")));
    for (Target& target : content.targets) {
        target.line += 1;
        block.targets.push_back(std::move(target));
    }
    return block;
}

} // namespace Ink::detail
