#include "PermissionGrants/Privacy.hpp"

#include <cstdlib>

// Placeholder until the privacy table is built.
namespace PermissionGrants {
std::string_view serviceName(Privacy) { std::abort(); }
std::optional<Privacy> privacyOfService(std::string_view) { std::abort(); }
std::string_view title(Privacy) { std::abort(); }
std::string_view nameInNotes(Privacy) { std::abort(); }
std::string_view settingsAnchor(Privacy) { std::abort(); }
std::string_view defaultSymbol(Privacy) { std::abort(); }
} // namespace PermissionGrants
