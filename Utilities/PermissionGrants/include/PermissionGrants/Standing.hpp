#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace PermissionGrants {

// Where a grant stands, with the words that belong to it. A value; copying
// one never allocates (its words are shared and never change), so a cached
// standing can be handed out from a hot path.
class Standing {
public:
    enum class Case { askable, broken, unknown, good };

    enum class Grade { good, askable, broken, unknown };

    // Not yet allowed; asking can still show a system prompt.
    static Standing askable(std::string actionTitle, std::optional<std::string> note = std::nullopt);
    // Refused or off; only the user can mend it, usually in System Settings.
    static Standing broken(std::string actionTitle, std::string note);
    // The state cannot be read.
    static Standing unknown(std::string note);
    // Allowed.
    static Standing good();

    Case kind() const { return case_; }
    Grade grade() const;
    // The action title of askable and broken; empty for unknown and good.
    std::string_view actionTitle() const;
    // The note of askable (may be absent), broken and unknown; absent for good.
    std::optional<std::string_view> note() const;
    // Askable and broken only.
    bool needsUser() const { return case_ == Case::askable || case_ == Case::broken; }

    friend bool operator==(const Standing& a, const Standing& b);

private:
    struct Words {
        std::string actionTitle;
        std::optional<std::string> note;
    };
    Standing(Case kind, std::shared_ptr<const Words> words) : case_(kind), words_(std::move(words)) {}

    Case case_;
    std::shared_ptr<const Words> words_; // absent for good
};

// The word for a grade: "good", "askable", "broken" or "unknown".
std::string_view gradeName(Standing::Grade grade);

} // namespace PermissionGrants
