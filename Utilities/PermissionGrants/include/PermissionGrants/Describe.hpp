#pragma once

#include "PermissionGrants/PermissionGrant.hpp"
#include "PermissionGrants/Standing.hpp"

#include <string>

namespace PermissionGrants {

// One line per grant, as the command lines print them: its title, its grade,
// then the action title and the note where the standing has them, separated
// by two blanks.
std::string describe(const PermissionGrant& grant);
// The same for a standing already read (an observer's new one).
std::string describe(const PermissionGrant& grant, const Standing& standing);

} // namespace PermissionGrants
