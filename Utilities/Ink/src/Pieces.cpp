#include "Block.hpp"

#include <Terminal/Text.hpp>

namespace Ink::detail {

Block laySection(const Section& section, int width, const Context& context) {
    Block block;
    if (section.header) block.append(layText(Text{*section.header, Role::title, Hue::none}, width, context));
    for (const Element& child : section.children) block.append(lay(child, width, context));
    if (section.footer) block.append(layText(Text{*section.footer, Role::secondary, Hue::none}, width, context));
    return block;
}

Block layPager(const Pager& pager, int width, const Context& context) {
    const Look& look = context.look;
    std::string dots;
    int columns = 0;
    for (size_t i = 0; i < pager.dots.size(); ++i) {
        bool current = static_cast<int>(i) == pager.current;
        std::string_view dot = current ? (look.unicode ? "\u25CF" : "*") : (look.unicode ? "\u25CB" : "o");
        if (i > 0) {
            dots += ' ';
            ++columns;
        }
        std::string codes = foreground(pager.dots[i]);
        if (current) codes += Terminal::ANSI::bold;
        dots += styled(look, codes, dot);
        ++columns;
    }
    Block block;
    if (!pager.dots.empty())
        block.lines.push_back(
            fit(std::string(static_cast<size_t>(std::max(0, (width - columns) / 2)), ' ') + dots, width, look));
    Block page = lay(pager.page, width, context);
    if (!page.lines.empty()) {
        if (!block.lines.empty()) block.lines.emplace_back();
        block.append(std::move(page));
    }
    Block footer = lay(pager.footer, width, context);
    if (!footer.lines.empty()) {
        block.stretch = static_cast<int>(block.lines.size());
        if (!block.lines.empty()) block.lines.emplace_back();
        block.append(std::move(footer));
    }
    // A page turn leaves the focus behind, so that a second Enter does not
    // press whatever now stands where the pressed button stood.
    for (Target& target : block.targets)
        if (target.scope.empty()) target.scope = "page " + std::to_string(pager.current);
    return block;
}

Block layFooterBar(const FooterBar& bar, int width, const Context& context) {
    Block block;
    block.lines.push_back(
        styled(context.look, Terminal::ANSI::dim, repeated(context.look.unicode ? "\u2500" : "-", width)));
    // Buttons that do not fit beside each other go on further lines, so
    // every one of them keeps its whole label.
    std::string line;
    int columns = 0;
    std::vector<Target> targets;
    auto finish = [&] {
        if (line.empty()) return;
        int at = static_cast<int>(block.lines.size());
        block.lines.push_back(fit(Terminal::padStart(line, width), width, context.look));
        for (Target& target : targets) {
            target.line = at;
            block.targets.push_back(std::move(target));
        }
        line.clear();
        columns = 0;
        targets.clear();
    };
    for (const Element& button : bar.buttons) {
        Block laid = lay(button, width, context);
        if (laid.lines.empty()) continue;
        int wide = laid.width();
        if (!line.empty() && columns + 2 + wide > width) finish();
        if (!line.empty()) {
            line += "  ";
            columns += 2;
        }
        line += laid.lines[0];
        columns += wide;
        for (Target& target : laid.targets) targets.push_back(std::move(target));
    }
    finish();
    return block;
}

Block layDialog(const Dialog& dialog, int width, const Context& context) {
    std::vector<std::string> labels = dialog.buttons;
    if (labels.empty()) labels.emplace_back("OK");
    std::vector<Element> buttons;
    for (size_t i = 0; i < labels.size(); ++i) {
        auto onChoose = dialog.onChoose;
        buttons.push_back(button(Button{.key = "dialog." + std::to_string(i),
                                        .label = labels[i],
                                        .hue = Hue::none,
                                        .tinted = false,
                                        .isDefault = i == 0,
                                        .onPress = [onChoose, i] {
                                            if (onChoose) onChoose(i);
                                        }}));
    }
    std::vector<Element> content{text(dialog.message, Role::title)};
    if (!dialog.informativeText.empty()) content.push_back(text(dialog.informativeText));
    content.push_back(footerBar(std::move(buttons)));
    return layCard(Card{vstack(std::move(content), 1)}, width, context);
}

} // namespace Ink::detail
