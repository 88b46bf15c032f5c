#pragma once

#include <PermissionGrants/Views/Row.hpp>
#include <PermissionGrants/Views/Steps.hpp>

#include <Ink/Element.hpp>

#include <functional>
#include <string>

// How the parts that several pieces share are drawn: a grant's trailing
// element, a row, a section of rows and an onboarding page.
namespace PermissionGrants::Screens {

Ink::Hue inkHue(Hue hue);

// A mark, or a tinted button with the arrow that takes focus as `key`;
// `fill` widens an action to the full width.
Ink::Element drawTrailing(const Trailing& trailing, std::string key, Ink::Action press, bool fill = false);

// The grant's symbol, title, detail line (secondary) and trailing element,
// beside one another in a row or stacked in a frame as a card.
Ink::Element drawRow(const PermissionGrant::Row& row, std::string key, Ink::Action press);

// The rows' focus keys are "row:" and their index counted from `firstRow`;
// pressing row i calls `press(i)` with its index within the section.
Ink::Element drawSection(const PermissionGrant::Section& section, size_t firstRow,
                         const std::function<Ink::Action(size_t row)>& press);

// The symbol, the title in the large-title role, the detail line and the
// trailing element, its action filling the width ("steps:action").
Ink::Element drawPage(const PermissionGrant::Page& page, Ink::Action press);

std::string rowKey(size_t index);

} // namespace PermissionGrants::Screens
