#include "Block.hpp"

#include <algorithm>
#include <type_traits>

namespace Ink {

namespace detail {

Block lay(const Element& element, int width, const Context& context) {
    return std::visit(
        [&](const auto& kind) -> Block {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, Nothing>)
                return {};
            else if constexpr (std::is_same_v<Kind, Spacer>)
                return Block{{""}, {}};
            else if constexpr (std::is_same_v<Kind, Text>)
                return layText(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Symbol>)
                return laySymbol(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Mark>)
                return layMark(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Button>)
                return layButton(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Link>)
                return layLink(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Toggle>)
                return layToggle(kind, width, context);
            else if constexpr (std::is_same_v<Kind, CommandLine>)
                return layCommandLine(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Stack>)
                return layStack(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Row>)
                return layRow(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Card>)
                return layCard(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Section>)
                return laySection(kind, width, context);
            else if constexpr (std::is_same_v<Kind, Pager>)
                return layPager(kind, width, context);
            else if constexpr (std::is_same_v<Kind, FooterBar>)
                return layFooterBar(kind, width, context);
            else
                return layDialog(kind, width, context);
        },
        element.node().value);
}

} // namespace detail

Frame layout(const Element& root, Size size, const Look& look, const std::string& focused, const std::string& copied) {
    detail::Context context{look, focused, copied};
    detail::Block block = detail::lay(root, size.columns, context);
    if (block.stretch && static_cast<int>(block.lines.size()) < size.rows) {
        int room = size.rows - static_cast<int>(block.lines.size());
        block.lines.insert(block.lines.begin() + *block.stretch, static_cast<size_t>(room), "");
        for (Target& target : block.targets)
            if (target.line >= *block.stretch) target.line += room;
    }
    // Taller than the screen: the bottom is cut, unless that would hide the
    // focused target, which then comes up to the last line.
    int rows = std::max(0, size.rows);
    int offset = 0;
    for (const Target& target : block.targets)
        if (!focused.empty() && target.key == focused && target.line >= rows) offset = target.line - rows + 1;
    Frame frame;
    frame.lines.reserve(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        size_t at = static_cast<size_t>(offset + i);
        std::string line = at < block.lines.size() ? detail::fit(block.lines[at], size.columns, look) : std::string();
        while (!line.empty() && line.back() == ' ') line.pop_back();
        frame.lines.push_back(std::move(line));
    }
    frame.targets = std::move(block.targets);
    for (Target& target : frame.targets) target.line -= offset;
    return frame;
}

} // namespace Ink
