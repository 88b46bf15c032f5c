#include "PermissionGrants/Views/Row.hpp"

#include <algorithm>

namespace PermissionGrants {

PermissionGrant::Row::Row(PermissionGrant grant, Style style, ViewContext context)
    : grant_(std::move(grant)), style_(style), context_(std::move(context)) {}

void PermissionGrant::Row::appeared() {
    context_.surfaceAppeared();
    shown_ = grant_.standing();
}

void PermissionGrant::Row::becameActive() { shown_ = grant_.standing(); }

void PermissionGrant::Row::changed(const Standing& current) {
    // Asking often reads broken for a moment before the person has even
    // seen the prompt; the row keeps its ask until the person comes back.
    if (shown_ && shown_->kind() == Standing::Case::askable && current.kind() == Standing::Case::broken) return;
    shown_ = current;
}

PermissionGrant::Standing PermissionGrant::Row::shown() const { return shown_ ? *shown_ : grant_.standing(); }

std::string PermissionGrant::Row::detailLine() const { return PermissionGrants::detailLine(grant_, shown()); }

Trailing PermissionGrant::Row::trailing() const { return PermissionGrants::trailing(shown(), context_.letterCase); }

void PermissionGrant::Row::press() const {
    // A mark has nothing to press.
    if (shown().needsUser()) grant_.act();
}

namespace {

std::vector<PermissionGrant> requiredFirst(std::vector<PermissionGrant> grants) {
    std::stable_partition(grants.begin(), grants.end(), [](const PermissionGrant& grant) { return grant.required; });
    return grants;
}

} // namespace

PermissionGrant::Section::Section(std::optional<std::string> title, std::vector<PermissionGrant> grants,
                                  std::optional<std::string> footer, ViewContext context)
    : title_(std::move(title)), footer_(std::move(footer)) {
    for (auto& grant : requiredFirst(std::move(grants))) rows_.emplace_back(std::move(grant), Row::Style::row, context);
}

PermissionGrant::Section::Section(std::vector<PermissionGrant> grants, std::optional<std::string> footer,
                                  ViewContext context)
    : Section(std::nullopt, std::move(grants), std::move(footer), std::move(context)) {}

void PermissionGrant::Section::appeared() {
    for (auto& row : rows_) row.appeared();
}

void PermissionGrant::Section::becameActive() {
    for (auto& row : rows_) row.becameActive();
}

} // namespace PermissionGrants
