#include <PermissionGrants/Screens.hpp>

namespace PermissionGrants::Screens {

// A terminal has no images: the icon is the application's glyph in a frame.
Ink::Element appIcon() { return Ink::card(Ink::symbol("app")); }

} // namespace PermissionGrants::Screens
