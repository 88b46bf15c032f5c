#pragma once

#include <PermissionGrants/Views/Chip.hpp>
#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <PermissionGrants/Views/Row.hpp>
#include <PermissionGrants/Views/Sheet.hpp>
#include <PermissionGrants/Views/Steps.hpp>

#include <Ink/Element.hpp>

#include <functional>
#include <memory>
#include <string>

// The pieces that show grants, drawn in the terminal with Ink and kept
// current on a live application: while a piece is shown it observes its
// grants' standings, hears the application become active, tells the hub it
// appeared, and asks its screen to redraw when something it shows changed.
namespace PermissionGrants::Screens {

// A piece on screen. Created hidden; the host calls appeared() when it
// comes into view and becameActive() when the application comes to the
// front (the terminal got focus, or the system says so).
class Shown {
public:
    virtual ~Shown() = default;
    // The piece as it is now, for this frame.
    virtual Ink::Element draw() = 0;
    virtual void appeared() = 0;
    virtual void becameActive() = 0;
};

// `invalidate` runs on the main thread whenever the piece needs a redraw.
using Invalidate = std::function<void()>;

// A row alone, in its own style, takes focus as "row:0".
std::unique_ptr<Shown> show(PermissionGrant::Row row, Invalidate invalidate);
std::unique_ptr<Shown> show(PermissionGrant::Section section, Invalidate invalidate);
std::unique_ptr<Shown> show(PermissionGrant::Sheet sheet, Invalidate invalidate);
// `welcome` draws the welcome page of an onboarding that has one (the host
// decides what it says); without it that page is blank.
std::unique_ptr<Shown> show(PermissionGrant::Steps steps, Invalidate invalidate,
                            std::function<Ink::Element()> welcome = {});
// A chip takes focus as `key`, so that several can share a screen.
std::unique_ptr<Shown> show(PermissionGrant::Chip chip, Invalidate invalidate, std::string key = "chip");
// `watched` is the grant whose changes refresh the switch: the login item's
// own, unless the switch's controls work on another.
std::unique_ptr<Shown> show(PermissionGrant::LaunchAtLogin launchAtLogin, Invalidate invalidate,
                            PermissionGrant watched = PermissionGrant::LaunchAtLogin::grant());

// The application's icon, drawn in text.
Ink::Element appIcon();

} // namespace PermissionGrants::Screens
