#include "PermissionGrants/Describe.hpp"

namespace PermissionGrants {

std::string describe(const PermissionGrant& grant) { return describe(grant, grant.standing()); }

std::string describe(const PermissionGrant& grant, const Standing& standing) {
    std::string line = grant.title + "  " + std::string(gradeName(standing.grade()));
    if (!standing.actionTitle().empty()) line += "  " + std::string(standing.actionTitle());
    if (auto note = standing.note()) line += "  " + std::string(*note);
    return line;
}

} // namespace PermissionGrants
