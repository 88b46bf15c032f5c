#include "Block.hpp"

#include <Terminal/Text.hpp>

namespace Ink::detail {

namespace {

constexpr std::string_view reverse = "\x1B[7m";

// A pressable piece on one line: its body between edges that show its
// state: "[ ]" focused, "( )" enabled, blank disabled. Colour adds reverse
// video to the focused one and dims the disabled one; the brackets stay, so
// a frame reads the same with colour or without.
struct Face {
    std::string body;
    bool focused = false;
    bool enabled = true;
    bool fill = false;
    std::string codes;
    bool padded = true;
};

std::string draw(const Face& face, int width, const Look& look) {
    std::string_view open = !face.enabled ? " " : face.focused ? "[" : "(";
    std::string_view close = !face.enabled ? " " : face.focused ? "]" : ")";
    int frame = face.padded ? 4 : 2;
    std::string body = fit(face.body, std::max(1, width - frame), look);
    if (face.fill) {
        int spare = std::max(0, width - frame - static_cast<int>(Terminal::width(body)));
        body = std::string(static_cast<size_t>(spare / 2), ' ') + body +
               std::string(static_cast<size_t>(spare - spare / 2), ' ');
    }
    std::string shown = face.padded ? std::string(open) + " " + body + " " + std::string(close)
                                    : std::string(open) + body + std::string(close);
    std::string codes = face.codes;
    if (!face.enabled)
        codes = std::string(Terminal::ANSI::dim);
    else if (face.focused)
        codes += reverse;
    return styled(look, codes, fit(shown, width, look));
}

} // namespace

Block layButton(const Button& button, int width, const Context& context) {
    const Look& look = context.look;
    Face face;
    face.body = visible(button.label);
    if (button.arrow) face.body += " " + std::string(glyph("arrow.up.forward", look));
    if (button.isDefault && button.enabled) face.body += " " + std::string(glyph("return", look));
    face.enabled = button.enabled;
    face.focused = button.enabled && context.isFocused(button.key);
    face.fill = button.fill;
    if (button.tinted) face.codes = background(button.hue);
    if (button.isDefault) face.codes += Terminal::ANSI::bold;
    Block block{{draw(face, width, look)}, {}};
    if (button.enabled) block.targets.push_back(Target{button.key, 0, button.isDefault, button.onPress, {}, {}});
    return block;
}

Block layLink(const Link& link, int width, const Context& context) {
    Face face;
    face.body = visible(link.label);
    face.focused = context.isFocused(link.key);
    face.codes = std::string(Terminal::ANSI::underline) + foreground(Hue::accent);
    face.padded = false;
    return Block{{draw(face, width, context.look)}, {Target{link.key, 0, false, link.onPress, {}, {}}}};
}

Block layToggle(const Toggle& toggle, int width, const Context& context) {
    Face face;
    face.body = toggle.on ? "on " : "off";
    face.enabled = toggle.enabled;
    face.focused = toggle.enabled && context.isFocused(toggle.key);
    if (toggle.on) face.codes = background(Hue::green);
    Element label = text(toggle.label);
    Block box{{draw(face, width, context.look)}, {}};
    int boxWidth = box.width();
    Block leading = lay(label, std::max(0, width - boxWidth - 1), context);
    box.lines[0] = Terminal::padEnd(leading.lines.empty() ? "" : leading.lines[0], width - boxWidth) + box.lines[0];
    for (size_t i = 1; i < leading.lines.size(); ++i) box.lines.push_back(leading.lines[i]);
    if (toggle.enabled) {
        auto onToggle = toggle.onToggle;
        bool on = toggle.on;
        box.targets.push_back(Target{toggle.key,
                                     0,
                                     false,
                                     [onToggle, on] {
                                         if (onToggle) onToggle(!on);
                                     },
                                     {},
                                     {}});
    }
    return box;
}

Block layCommandLine(const CommandLine& commandLine, int width, const Context& context) {
    Face face;
    face.body = context.copied == commandLine.key && !commandLine.key.empty() ? "copied" : "copy";
    face.focused = context.isFocused(commandLine.key);
    Block copy{{draw(face, width, context.look)}, {}};
    int copyWidth = copy.width();
    Block shown =
        layText(Text{"$ " + commandLine.command, Role::body, Hue::accent}, std::max(0, width - copyWidth - 1), context);
    shown.lines[0] = Terminal::padEnd(shown.lines[0], width - copyWidth) + copy.lines[0];
    shown.targets.push_back(Target{commandLine.key, 0, false, {}, commandLine.command, {}});
    return shown;
}

} // namespace Ink::detail
