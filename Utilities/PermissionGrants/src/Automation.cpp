#include "PermissionGrants/Automation.hpp"

#include <cstdlib>

// Placeholder until automation grants are built.
namespace PermissionGrants {
std::optional<bool> Automation::allowed(const std::string&) { std::abort(); }
void Automation::ask(const std::string&, std::function<void()>) { std::abort(); }
} // namespace PermissionGrants
