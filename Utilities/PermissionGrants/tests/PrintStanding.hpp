#pragma once

// Standings as test failures show them: grade, action title and note.

#include <PermissionGrants/Standing.hpp>

#include <ostream>

namespace PermissionGrants {

inline void PrintTo(const Standing& standing, std::ostream* out) {
    *out << gradeName(standing.grade()) << " \"" << standing.actionTitle() << "\"";
    if (auto note = standing.note()) *out << " \"" << *note << "\"";
}

} // namespace PermissionGrants
