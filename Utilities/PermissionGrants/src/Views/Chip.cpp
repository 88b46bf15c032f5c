#include "PermissionGrants/Views/Chip.hpp"

namespace PermissionGrants {

PermissionGrant::Chip::Chip(PermissionGrant grant, std::optional<std::string> label, bool fill, ViewContext context)
    : grant_(std::move(grant)), label_(std::move(label)), fill_(fill), context_(std::move(context)) {}

std::optional<GrantAction> PermissionGrant::Chip::action() const {
    Standing standing = grant_.standing();
    if (!standing.needsUser()) return std::nullopt;
    return GrantAction{standing.kind() == Standing::Case::askable ? Hue::yellow : Hue::orange, fill_,
                       label_.value_or(grant_.title) + ", " + context_.letterCase.apply(standing.actionTitle())};
}

void PermissionGrant::Chip::press() const {
    // A chip that draws nothing cannot be pressed.
    if (grant_.standing().needsUser()) grant_.act();
}

} // namespace PermissionGrants
