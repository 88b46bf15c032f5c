#pragma once

#include "PermissionGrants/Views/Pieces.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace PermissionGrants {

// One page of the onboarding: the grant's symbol large, its title large,
// the detail line and the trailing element, from the current standing.
class PermissionGrant::Page {
public:
    explicit Page(PermissionGrant grant, ViewContext context = {});

    const PermissionGrant& grant() const { return grant_; }
    Standing standing() const;
    std::string detailLine() const;
    Trailing trailing() const;
    // The grant's act().
    void press() const;
    // Tells the hub a surface appeared.
    void appeared();

private:
    PermissionGrant grant_;
    ViewContext context_;
};

// A paged onboarding: an optional welcome page 0, then one page per grant
// in the order given. It moves on by itself when the grant of the page
// shown turns good, and calls onDone at most once each time it appears.
class PermissionGrant::Steps {
public:
    // What the onboarding watches: the page shown and whether its grant is
    // good.
    struct Here {
        int page = 0;
        bool good = false;
        friend bool operator==(const Here&, const Here&) = default;
    };

    // The footer's one button.
    struct Button {
        enum class Kind { skip, next, done };
        Kind kind;
        std::string label; // "Skip", "Continue" or "Done", in the letter case
        bool enabled = true;
        // Pressed by the Return key.
        bool isDefault = false;
        friend bool operator==(const Button&, const Button&) = default;
    };

    Steps(std::vector<PermissionGrant> grants, bool welcome, std::function<void()> onDone, ViewContext context = {});

    bool hasWelcome() const { return welcome_; }
    int pageCount() const;
    // The number of grants, less one without a welcome page; never below
    // 0, so an empty onboarding still has one page with "Done".
    int lastPage() const;
    int page() const { return page_; }
    // The page's grant; none for the welcome page (or an empty onboarding).
    const Page* pageAt(int page) const;

    // good green, askable yellow, broken orange; unknown and the welcome
    // page none.
    std::optional<Hue> tint(int page) const;
    Button button() const;
    // Skip, Continue or Done: the next page, or onDone on the last page
    // (once per appearance). Ignored while the button is disabled.
    void pressButton();
    // Whether `page` may be left: it has no grant, or its grant is optional,
    // unknown or good.
    bool mayLeave(int page) const;

    Here here() const;
    // To be called whenever a standing may have changed: when the page is
    // unchanged and its grant turned good, goes to the next page.
    void standingsChanged();

    // The onboarding appeared: the page shown tells the hub, and onDone may
    // be called again.
    void appeared();

private:
    // The index into pages_ of `page`'s grant; none for the welcome page.
    std::optional<size_t> grantIndex(int page) const;
    // The page shown appeared: it tells the hub, and is watched from now.
    void showPage();
    void next();

    std::vector<Page> pages_;
    bool welcome_;
    std::function<void()> onDone_;
    ViewContext context_;
    int page_ = 0;
    Here watched_;
    bool doneCalled_ = false;
};

} // namespace PermissionGrants
