#pragma once

#include "Ink/Element.hpp"

#include <variant>

// What each kind of element holds. Internal to the kit: views build trees
// through the functions of Element.hpp, and only the layout reads them.
namespace Ink {

struct Nothing {};
struct Spacer {};
struct Text {
    std::string content;
    Role role;
    Hue hue;
};
struct Symbol {
    std::string name;
    Hue hue;
};
struct Mark {
    bool good;
};
struct Link {
    std::string key;
    std::string label;
    Action onPress;
};
struct Toggle {
    std::string key;
    std::string label;
    bool on;
    bool enabled;
    std::function<void(bool)> onToggle;
};
struct CommandLine {
    std::string key;
    std::string command;
};
struct Stack {
    std::vector<Element> children;
    int gap;
    bool horizontal;
};
struct Row {
    Element leading;
    Element trailing;
};
struct Card {
    Element content;
};
struct Section {
    std::optional<std::string> header;
    std::vector<Element> children;
    std::optional<std::string> footer;
};
struct Pager {
    std::vector<Hue> dots;
    int current;
    Element page;
    Element footer;
};
struct FooterBar {
    std::vector<Element> buttons;
};
struct Dialog {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;
    std::function<void(size_t)> onChoose;
};

struct Element::Node {
    std::variant<Nothing, Spacer, Text, Symbol, Mark, Button, Link, Toggle, CommandLine, Stack, Row, Card, Section,
                 Pager, FooterBar, Dialog>
        value;
};

} // namespace Ink
