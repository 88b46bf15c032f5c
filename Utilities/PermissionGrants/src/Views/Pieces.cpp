#include "PermissionGrants/Views/Pieces.hpp"
#include "PermissionGrants/PrivacyHub.hpp"

#include <Platform/UTF8.hpp>

namespace PermissionGrants {

std::string PermissionGrant::LetterCase::apply(std::string_view text) const {
    return value_ == lower ? Platform::UTF8::lowercased(text) : std::string(text);
}

void ViewContext::surfaceAppeared() const {
    constexpr std::string_view why = "a surface appeared";
    if (watchSettings)
        watchSettings(why);
    else
        PrivacyHub::shared().watchSettings(why);
}

std::string detailLine(const PermissionGrant& grant, const Standing& standing) {
    switch (standing.kind()) {
    case Standing::Case::askable:
        if (auto note = standing.note()) return std::string(*note);
        return grant.why;
    case Standing::Case::broken:
    case Standing::Case::unknown: return std::string(standing.note().value_or(""));
    case Standing::Case::good: break;
    }
    return grant.why;
}

Trailing trailing(const Standing& standing, PermissionGrant::LetterCase letterCase) {
    switch (standing.kind()) {
    case Standing::Case::askable: return GrantAction{Hue::yellow, false, letterCase.apply(standing.actionTitle())};
    case Standing::Case::broken: return GrantAction{Hue::orange, false, letterCase.apply(standing.actionTitle())};
    case Standing::Case::unknown:
    case Standing::Case::good: break;
    }
    return GrantMark{standing.grade()};
}

} // namespace PermissionGrants
