#include "PermissionGrants/Views/Steps.hpp"

#include <algorithm>

namespace PermissionGrants {

PermissionGrant::Page::Page(PermissionGrant grant, ViewContext context)
    : grant_(std::move(grant)), context_(std::move(context)) {}

PermissionGrant::Standing PermissionGrant::Page::standing() const { return grant_.standing(); }

std::string PermissionGrant::Page::detailLine() const { return PermissionGrants::detailLine(grant_, standing()); }

Trailing PermissionGrant::Page::trailing() const { return PermissionGrants::trailing(standing(), context_.letterCase); }

void PermissionGrant::Page::press() const {
    // A mark has nothing to press.
    if (standing().needsUser()) grant_.act();
}

void PermissionGrant::Page::appeared() { context_.surfaceAppeared(); }

PermissionGrant::Steps::Steps(std::vector<PermissionGrant> grants, bool welcome, std::function<void()> onDone,
                              ViewContext context)
    : welcome_(welcome), onDone_(std::move(onDone)), context_(std::move(context)) {
    pages_.reserve(grants.size());
    for (auto& grant : grants) pages_.emplace_back(std::move(grant), context_);
    watched_ = here();
}

int PermissionGrant::Steps::pageCount() const {
    // An onboarding without grants or welcome still shows its "Done".
    return std::max(1, static_cast<int>(pages_.size()) + (welcome_ ? 1 : 0));
}

int PermissionGrant::Steps::lastPage() const { return pageCount() - 1; }

std::optional<size_t> PermissionGrant::Steps::grantIndex(int page) const {
    int index = welcome_ ? page - 1 : page;
    if (index < 0 || index >= static_cast<int>(pages_.size())) return std::nullopt;
    return static_cast<size_t>(index);
}

const PermissionGrant::Page* PermissionGrant::Steps::pageAt(int page) const {
    auto index = grantIndex(page);
    return index ? &pages_[*index] : nullptr;
}

std::optional<Hue> PermissionGrant::Steps::tint(int page) const {
    const Page* shown = pageAt(page);
    if (!shown) return std::nullopt;
    switch (shown->standing().kind()) {
    case Standing::Case::good: return Hue::green;
    case Standing::Case::askable: return Hue::yellow;
    case Standing::Case::broken: return Hue::orange;
    case Standing::Case::unknown: break;
    }
    return std::nullopt;
}

PermissionGrant::Steps::Button PermissionGrant::Steps::button() const {
    const Page* shown = pageAt(page_);
    bool needsUser = shown && shown->standing().needsUser();
    if (needsUser && !shown->grant().required)
        return {Button::Kind::skip, context_.letterCase.apply("Skip"), true, false};
    bool last = page_ >= lastPage();
    bool enabled = !(needsUser && shown->grant().required);
    return {last ? Button::Kind::done : Button::Kind::next, context_.letterCase.apply(last ? "Done" : "Continue"),
            enabled, enabled};
}

void PermissionGrant::Steps::pressButton() {
    if (button().enabled) next();
}

bool PermissionGrant::Steps::mayLeave(int page) const {
    const Page* shown = pageAt(page);
    if (!shown || !shown->grant().required) return true;
    auto kind = shown->standing().kind();
    return kind == Standing::Case::unknown || kind == Standing::Case::good;
}

PermissionGrant::Steps::Here PermissionGrant::Steps::here() const {
    const Page* shown = pageAt(page_);
    return {page_, shown && shown->standing() == Standing::good()};
}

void PermissionGrant::Steps::standingsChanged() {
    Here now = here();
    bool turnedGood = now.page == watched_.page && now.good && !watched_.good;
    watched_ = now;
    if (turnedGood) next();
}

void PermissionGrant::Steps::appeared() {
    doneCalled_ = false;
    showPage();
}

void PermissionGrant::Steps::showPage() {
    if (auto index = grantIndex(page_)) pages_[*index].appeared();
    watched_ = here();
}

void PermissionGrant::Steps::next() {
    if (page_ < lastPage()) {
        ++page_;
        showPage();
        return;
    }
    // A last page that turned good finishes by itself; a press after that
    // must not finish twice.
    if (doneCalled_) return;
    doneCalled_ = true;
    if (onDone_) onDone_();
}

} // namespace PermissionGrants
