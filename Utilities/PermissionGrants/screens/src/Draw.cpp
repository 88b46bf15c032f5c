#include "Draw.hpp"

#include <variant>

namespace PermissionGrants::Screens {

namespace {

// A grant without a detail line takes no line for it.
Ink::Element detail(const std::string& line) {
    return line.empty() ? Ink::empty() : Ink::text(line, Ink::Role::secondary);
}

} // namespace

Ink::Hue inkHue(Hue hue) {
    switch (hue) {
    case Hue::yellow: return Ink::Hue::yellow;
    case Hue::orange: return Ink::Hue::orange;
    case Hue::green: break;
    }
    return Ink::Hue::green;
}

std::string rowKey(size_t index) { return "row:" + std::to_string(index); }

Ink::Element drawTrailing(const Trailing& trailing, std::string key, Ink::Action press, bool fill) {
    if (const auto* mark = std::get_if<GrantMark>(&trailing)) return Ink::mark(mark->grade == Standing::Grade::good);
    const auto& action = std::get<GrantAction>(trailing);
    return Ink::button({.key = std::move(key),
                        .label = action.label,
                        .hue = inkHue(action.hue),
                        .tinted = true,
                        .fill = action.fill || fill,
                        .arrow = true,
                        .onPress = std::move(press)});
}

Ink::Element drawRow(const PermissionGrant::Row& row, std::string key, Ink::Action press) {
    const PermissionGrant& grant = row.grant();
    Ink::Element trailing = drawTrailing(row.trailing(), std::move(key), std::move(press));
    Ink::Element title = Ink::text(grant.title);
    if (row.style() == PermissionGrant::Row::Style::card)
        return Ink::card(
            Ink::vstack({Ink::hstack({Ink::symbol(grant.symbol), title}), detail(row.detailLine()), trailing}));
    return Ink::row(Ink::hstack({Ink::symbol(grant.symbol), Ink::vstack({title, detail(row.detailLine())})}), trailing);
}

Ink::Element drawSection(const PermissionGrant::Section& section, size_t firstRow,
                         const std::function<Ink::Action(size_t row)>& press) {
    std::vector<Ink::Element> rows;
    for (size_t index = 0; index < section.rows().size(); ++index)
        rows.push_back(drawRow(section.rows()[index], rowKey(firstRow + index), press(index)));
    return Ink::section(section.title(), std::move(rows), section.footer());
}

Ink::Element drawPage(const PermissionGrant::Page& page, Ink::Action press) {
    const PermissionGrant& grant = page.grant();
    std::vector<Ink::Element> parts{Ink::symbol(grant.symbol), Ink::text(grant.title, Ink::Role::largeTitle)};
    if (std::string line = page.detailLine(); !line.empty()) parts.push_back(Ink::text(line));
    parts.push_back(drawTrailing(page.trailing(), "steps:action", std::move(press), true));
    return Ink::vstack(std::move(parts), 1);
}

} // namespace PermissionGrants::Screens
