#pragma once

#include "PermissionGrants/Views/Pieces.hpp"

#include <optional>
#include <string>

namespace PermissionGrants {

// A compact button for one grant that needs the person: nothing at all when
// the grant is good or unknown.
class PermissionGrant::Chip {
public:
    Chip(PermissionGrant grant, std::optional<std::string> label = std::nullopt, bool fill = false,
         ViewContext context = {});

    const PermissionGrant& grant() const { return grant_; }
    // Yellow for askable, orange for broken, `fill` as given; its label is
    // the chip's label (or the grant's title), ", " and the action title in
    // the letter case. None for good and unknown.
    std::optional<GrantAction> action() const;
    // The grant's act(); nothing while the chip draws nothing.
    void press() const;

private:
    PermissionGrant grant_;
    std::optional<std::string> label_;
    bool fill_;
    ViewContext context_;
};

} // namespace PermissionGrants
