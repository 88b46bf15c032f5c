#pragma once

#include "PermissionGrants/Views/Row.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace PermissionGrants {

// The application's icon, a title and a subtitle over a "Required" section
// (only when some grant is required) and an "Optional" one (only when some
// is not, with the optional note as its footer), and one button: "Later"
// while a required grant still needs the person, else "Done". Both section
// titles and the button's label are in the context's letter case.
class PermissionGrant::Sheet {
public:
    Sheet(std::string title, std::optional<std::string> subtitle, std::vector<PermissionGrant> grants,
          std::optional<std::string> optionalNote, std::function<void()> onDone, ViewContext context = {});

    const std::string& title() const { return title_; }
    const std::optional<std::string>& subtitle() const { return subtitle_; }
    // The one or two sections, "Required" first.
    std::vector<Section>& sections() { return sections_; }
    const std::vector<Section>& sections() const { return sections_; }

    // "Later" or "Done", read afresh from the standings.
    std::string buttonLabel() const;
    // Calls onDone.
    void pressButton() const;

    void appeared();
    void becameActive();

private:
    std::string title_;
    std::optional<std::string> subtitle_;
    std::vector<Section> sections_;
    std::function<void()> onDone_;
    ViewContext context_;
};

} // namespace PermissionGrants
