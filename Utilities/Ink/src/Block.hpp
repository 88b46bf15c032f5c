#pragma once

#include "Ink/Window.hpp"
#include "Node.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Laying elements out: each kind becomes a block of lines no wider than the
// width it is given, with the targets it holds. Internal to the kit.
namespace Ink::detail {

struct Block {
    std::vector<std::string> lines;
    // Lines relative to the block's first.
    std::vector<Target> targets;
    // Where blank lines go when the whole frame is shorter than the screen,
    // so that a pager's footer sits at the bottom; none: below everything.
    std::optional<int> stretch = std::nullopt;

    // The widest line.
    int width() const;
    // `other` under this block's lines.
    void append(Block other);
};

struct Context {
    const Look& look;
    const std::string& focused;
    const std::string& copied;

    bool isFocused(const std::string& key) const { return !key.empty() && key == focused; }
};

Block lay(const Element& element, int width, const Context& context);

Block layText(const Text& text, int width, const Context& context);
Block laySymbol(const Symbol& symbol, int width, const Context& context);
Block layMark(const Mark& mark, int width, const Context& context);
Block layButton(const Button& button, int width, const Context& context);
Block layLink(const Link& link, int width, const Context& context);
Block layToggle(const Toggle& toggle, int width, const Context& context);
Block layCommandLine(const CommandLine& commandLine, int width, const Context& context);
Block layStack(const Stack& stack, int width, const Context& context);
Block layRow(const Row& row, int width, const Context& context);
Block layCard(const Card& card, int width, const Context& context);
Block laySection(const Section& section, int width, const Context& context);
Block layPager(const Pager& pager, int width, const Context& context);
Block layFooterBar(const FooterBar& bar, int width, const Context& context);
Block layDialog(const Dialog& dialog, int width, const Context& context);

// The text cut to at most `width` columns (nothing for none).
std::string fit(std::string_view text, int width, const Look& look);
// `count` copies of `piece`.
std::string repeated(std::string_view piece, int count);

// SGR codes for a hue as text colour or as background; empty for `none`.
std::string foreground(Hue hue);
std::string background(Hue hue);
// The codes of a text role.
std::string_view roleCodes(Role role);
// `text` between `codes` and a reset when the look has colour and there are
// codes; as it is otherwise.
std::string styled(const Look& look, std::string_view codes, std::string_view text);

// The clipboard sequence (OSC 52) that copies `text`.
std::string clipboard(std::string_view text);

} // namespace Ink::detail
