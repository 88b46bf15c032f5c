#include "PermissionGrants/Views/Sheet.hpp"

#include <algorithm>

namespace PermissionGrants {

PermissionGrant::Sheet::Sheet(std::string title, std::optional<std::string> subtitle,
                              std::vector<PermissionGrant> grants, std::optional<std::string> optionalNote,
                              std::function<void()> onDone, ViewContext context)
    : title_(std::move(title)), subtitle_(std::move(subtitle)), onDone_(std::move(onDone)),
      context_(std::move(context)) {
    std::vector<PermissionGrant> required, optional;
    for (auto& grant : grants) (grant.required ? required : optional).push_back(std::move(grant));
    if (!required.empty())
        sections_.emplace_back(context_.letterCase.apply("Required"), std::move(required), std::nullopt, context_);
    if (!optional.empty())
        sections_.emplace_back(context_.letterCase.apply("Optional"), std::move(optional), std::move(optionalNote),
                               context_);
}

std::string PermissionGrant::Sheet::buttonLabel() const {
    bool waiting = std::any_of(sections_.begin(), sections_.end(), [](const Section& section) {
        return std::any_of(section.rows().begin(), section.rows().end(),
                           [](const Row& row) { return row.grant().required && row.grant().standing().needsUser(); });
    });
    return context_.letterCase.apply(waiting ? "Later" : "Done");
}

void PermissionGrant::Sheet::pressButton() const {
    if (onDone_) onDone_();
}

void PermissionGrant::Sheet::appeared() {
    for (auto& section : sections_) section.appeared();
}

void PermissionGrant::Sheet::becameActive() {
    for (auto& section : sections_) section.becameActive();
}

} // namespace PermissionGrants
