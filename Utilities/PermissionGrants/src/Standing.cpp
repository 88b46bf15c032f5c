#include "PermissionGrants/Standing.hpp"

namespace PermissionGrants {

Standing Standing::askable(std::string actionTitle, std::optional<std::string> note) {
    return {Case::askable, std::make_shared<const Words>(Words{std::move(actionTitle), std::move(note)})};
}

Standing Standing::broken(std::string actionTitle, std::string note) {
    return {Case::broken, std::make_shared<const Words>(Words{std::move(actionTitle), std::move(note)})};
}

Standing Standing::unknown(std::string note) {
    return {Case::unknown, std::make_shared<const Words>(Words{std::string(), std::move(note)})};
}

Standing Standing::good() { return {Case::good, nullptr}; }

Standing::Grade Standing::grade() const {
    switch (case_) {
    case Case::askable: return Grade::askable;
    case Case::broken: return Grade::broken;
    case Case::unknown: return Grade::unknown;
    case Case::good: return Grade::good;
    }
    return Grade::unknown;
}

std::string_view Standing::actionTitle() const {
    return case_ == Case::askable || case_ == Case::broken ? std::string_view(words_->actionTitle) : std::string_view();
}

std::optional<std::string_view> Standing::note() const {
    if (case_ == Case::good || !words_->note) return std::nullopt;
    return std::string_view(*words_->note);
}

bool operator==(const Standing& a, const Standing& b) {
    if (a.case_ != b.case_) return false;
    if (a.words_ == b.words_) return true;
    return a.actionTitle() == b.actionTitle() && a.note() == b.note();
}

std::string_view gradeName(Standing::Grade grade) {
    switch (grade) {
    case Standing::Grade::good: return "good";
    case Standing::Grade::askable: return "askable";
    case Standing::Grade::broken: return "broken";
    case Standing::Grade::unknown: return "unknown";
    }
    return "unknown";
}

} // namespace PermissionGrants
