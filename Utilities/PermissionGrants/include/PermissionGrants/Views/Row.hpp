#pragma once

#include "PermissionGrants/Views/Pieces.hpp"

#include <optional>
#include <string>
#include <vector>

namespace PermissionGrants {

// A row per grant: its symbol, title, detail line and trailing element.
// It remembers the standing it shows, so that a grant that turns broken
// right after the person was asked keeps its "ask" look until the person
// comes back to the application. Whoever hosts the row calls the three
// event methods; the row reads standings itself (afresh at each call).
class PermissionGrant::Row {
public:
    enum class Style { row, card }; // differ in layout only

    explicit Row(PermissionGrant grant, Style style = Style::row, ViewContext context = {});

    const PermissionGrant& grant() const { return grant_; }
    Style style() const { return style_; }

    // The row appeared: tells the hub a surface appeared, then shows the
    // current standing.
    void appeared();
    // The application became active (came to the front, or the terminal got
    // focus): shows the current standing.
    void becameActive();
    // The grant's standing changed while the row is visible: shows it, but
    // an askable row keeps showing askable when the grant turned broken.
    void changed(const Standing& current);

    // What the row shows: the remembered standing, or the current one while
    // nothing is remembered.
    Standing shown() const;
    std::string detailLine() const;
    Trailing trailing() const;
    // Presses the trailing action: the grant's act(). Nothing while the row
    // shows a mark.
    void press() const;

private:
    PermissionGrant grant_;
    Style style_;
    ViewContext context_;
    std::optional<Standing> shown_;
};

// Rows under an optional title, with an optional footer. Required grants
// come first; otherwise the given order is kept.
class PermissionGrant::Section {
public:
    Section(std::optional<std::string> title, std::vector<PermissionGrant> grants,
            std::optional<std::string> footer = std::nullopt, ViewContext context = {});
    Section(std::vector<PermissionGrant> grants, std::optional<std::string> footer = std::nullopt,
            ViewContext context = {});

    const std::optional<std::string>& title() const { return title_; }
    const std::optional<std::string>& footer() const { return footer_; }
    std::vector<Row>& rows() { return rows_; }
    const std::vector<Row>& rows() const { return rows_; }

    // Passed on to every row.
    void appeared();
    void becameActive();

private:
    std::optional<std::string> title_;
    std::optional<std::string> footer_;
    std::vector<Row> rows_;
};

} // namespace PermissionGrants
