#include <PermissionGrants/Screens.hpp>

namespace PermissionGrants::Screens {

// A terminal has no images: the icon is the application's glyph, in the
// accent colour.
Ink::Element appIcon() { return Ink::symbol("moon", Ink::Hue::accent); }

} // namespace PermissionGrants::Screens
