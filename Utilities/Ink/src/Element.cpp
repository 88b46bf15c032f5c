#include "Node.hpp"

namespace Ink {

namespace {

template <typename Kind>
Element make(Kind kind) {
    return Element(std::make_shared<const Element::Node>(Element::Node{std::move(kind)}));
}

} // namespace

Element empty() { return make(Nothing{}); }
Element spacer() { return make(Spacer{}); }
Element text(std::string content, Role role, Hue hue) { return make(Text{std::move(content), role, hue}); }
Element symbol(std::string name, Hue hue) { return make(Symbol{std::move(name), hue}); }
Element mark(bool good) { return make(Mark{good}); }
Element button(Button button) { return make(std::move(button)); }
Element link(std::string key, std::string label, Action onPress) {
    return make(Link{std::move(key), std::move(label), std::move(onPress)});
}
Element toggle(std::string key, std::string label, bool on, bool enabled, std::function<void(bool on)> onToggle) {
    return make(Toggle{std::move(key), std::move(label), on, enabled, std::move(onToggle)});
}
Element commandLine(std::string key, std::string command) {
    return make(CommandLine{std::move(key), std::move(command)});
}
Element vstack(std::vector<Element> children, int gap) { return make(Stack{std::move(children), gap, false}); }
Element hstack(std::vector<Element> children, int gap) { return make(Stack{std::move(children), gap, true}); }
Element row(Element leading, Element trailing) { return make(Row{std::move(leading), std::move(trailing)}); }
Element card(Element content) { return make(Card{std::move(content)}); }
Element section(std::optional<std::string> header, std::vector<Element> children, std::optional<std::string> footer) {
    return make(Section{std::move(header), std::move(children), std::move(footer)});
}
Element pager(std::vector<Hue> dots, int current, Element page, Element footer) {
    return make(Pager{std::move(dots), current, std::move(page), std::move(footer)});
}
Element footerBar(std::vector<Element> buttons) { return make(FooterBar{std::move(buttons)}); }
Element dialog(std::string message, std::string informativeText, std::vector<std::string> buttons,
               std::function<void(size_t button)> onChoose) {
    return make(Dialog{std::move(message), std::move(informativeText), std::move(buttons), std::move(onChoose)});
}

} // namespace Ink
