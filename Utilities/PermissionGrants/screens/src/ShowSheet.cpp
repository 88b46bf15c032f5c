#include "Draw.hpp"
#include "Live.hpp"

namespace PermissionGrants::Screens {

namespace {

using Sheet = PermissionGrant::Sheet;
using Section = PermissionGrant::Section;

// The row at `index` counted across the sheet's sections, in the order
// they are drawn.
PermissionGrant::Row& rowAt(Sheet& sheet, size_t index) {
    for (Section& section : sheet.sections()) {
        if (index < section.rows().size()) return section.rows()[index];
        index -= section.rows().size();
    }
    return sheet.sections().back().rows().back();
}

std::vector<PermissionGrant> grantsOf(const std::vector<Section>& sections) {
    std::vector<PermissionGrant> grants;
    for (const Section& section : sections)
        for (const auto& row : section.rows()) grants.push_back(row.grant());
    return grants;
}

Ink::Element drawSheet(const std::shared_ptr<Held<Sheet>>& held) {
    const Sheet& sheet = held->model;
    std::vector<Ink::Element> heading{Ink::text(sheet.title(), Ink::Role::largeTitle)};
    if (sheet.subtitle()) heading.push_back(Ink::text(*sheet.subtitle(), Ink::Role::secondary));
    std::vector<Ink::Element> parts{Ink::hstack({appIcon(), Ink::vstack(std::move(heading))}, 2)};
    size_t firstRow = 0;
    for (const Section& section : sheet.sections()) {
        parts.push_back(drawSection(section, firstRow, [&](size_t index) {
            return acting(held, [row = firstRow + index](Sheet& model) { rowAt(model, row).press(); });
        }));
        firstRow += section.rows().size();
    }
    parts.push_back(
        Ink::footerBar({Ink::button({.key = "sheet:button",
                                     .label = sheet.buttonLabel(),
                                     .hue = Ink::Hue::accent,
                                     .isDefault = true,
                                     .onPress = acting(held, [](Sheet& model) { model.pressButton(); })})}));
    return Ink::vstack(std::move(parts), 1);
}

} // namespace

std::unique_ptr<Shown> show(PermissionGrant::Sheet sheet, Invalidate invalidate) {
    auto held = std::make_shared<Held<Sheet>>(Held<Sheet>{std::move(sheet), invalidate});
    std::vector<PermissionGrant> watched = grantsOf(held->model.sections());
    return std::make_unique<Live>(
        Piece{.draw = [held] { return drawSheet(held); },
              .appeared = [held] { held->model.appeared(); },
              .becameActive = [held] { held->model.becameActive(); },
              .watched = std::move(watched),
              .changed = [held](size_t index, const Standing& now) { rowAt(held->model, index).changed(now); }},
        std::move(invalidate));
}

} // namespace PermissionGrants::Screens
