#pragma once

#include <PermissionGrants/Views/Chip.hpp>
#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <PermissionGrants/Views/Row.hpp>
#include <PermissionGrants/Views/Sheet.hpp>
#include <PermissionGrants/Views/Steps.hpp>

#include <Ink/Element.hpp>

#include <functional>
#include <memory>

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

std::unique_ptr<Shown> show(PermissionGrant::Section section, Invalidate invalidate);
std::unique_ptr<Shown> show(PermissionGrant::Sheet sheet, Invalidate invalidate);
std::unique_ptr<Shown> show(PermissionGrant::Steps steps, Invalidate invalidate);
std::unique_ptr<Shown> show(PermissionGrant::Chip chip, Invalidate invalidate);
std::unique_ptr<Shown> show(PermissionGrant::LaunchAtLogin launchAtLogin, Invalidate invalidate);

// The application's icon, drawn in text.
Ink::Element appIcon();

} // namespace PermissionGrants::Screens
