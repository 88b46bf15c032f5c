#pragma once

#include "PermissionGrants/PermissionGrant.hpp"
#include "PermissionGrants/Standing.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <variant>

// What every piece that shows grants shares: the letter case of its own
// labels, what it hands down the view tree, and the words and trailing
// element of a grant. Headless: a renderer (the terminal one, or any other)
// draws what these say. Everything here runs on the main thread.
namespace PermissionGrants {

// How the pieces write the labels they make themselves (action titles,
// "Required", "Optional", "Done", "Later", "Skip", "Continue"). Grant
// titles, notes and `why` texts are never changed.
class PermissionGrant::LetterCase {
public:
    enum Value { title, lower };

    LetterCase(Value value = title) : value_(value) {}
    Value value() const { return value_; }

    // Lowercased for `lower`, unchanged for `title`.
    std::string apply(std::string_view text) const;

    friend bool operator==(LetterCase a, LetterCase b) { return a.value_ == b.value_; }

private:
    Value value_;
};

// What the view tree carries down to every piece.
struct ViewContext {
    // The letter case of the pieces' own labels (default: as given).
    PermissionGrant::LetterCase letterCase;
    // How a piece tells the privacy hub that a surface appeared; empty means
    // PrivacyHub::shared().watchSettings. Tests hand in their own.
    std::function<void(std::string_view why)> watchSettings;

    // Calls watchSettings("a surface appeared").
    void surfaceAppeared() const;
};

// The colours the pieces name; a renderer maps them to its own.
enum class Hue { yellow, orange, green };

// The status mark: a green check mark labelled "allowed" for `good`; the
// word "unknown" (small, tertiary) for any other grade.
struct GrantMark {
    Standing::Grade grade;
    friend bool operator==(const GrantMark&, const GrantMark&) = default;
};

// A tinted button: its label (the action title in the letter case), then an
// arrow; `fill` takes the full width. Pressing it is the piece's business.
struct GrantAction {
    Hue hue;
    bool fill = false;
    std::string label;
    friend bool operator==(const GrantAction&, const GrantAction&) = default;
};

// What ends a grant's row or page.
using Trailing = std::variant<GrantMark, GrantAction>;

// The detail line of a grant standing as given: askable: its note, else the
// grant's why; broken and unknown: the note; good: the grant's why.
std::string detailLine(const PermissionGrant& grant, const Standing& standing);

// good: a mark graded good; unknown: a mark graded unknown; askable: a
// yellow action; broken: an orange action. The action's label is the
// standing's action title in `letterCase`; it does not fill.
Trailing trailing(const Standing& standing, PermissionGrant::LetterCase letterCase);

} // namespace PermissionGrants
