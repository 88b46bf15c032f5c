#include "PermissionGrants/Signature.hpp"

namespace PermissionGrants::Signature {

bool hardened() { return hardened(Platform::CodeSigning::ownSigningInformation()); }

bool hardened(const std::optional<Platform::CodeSigning::SigningInformation>& signature) {
    return signature && (signature->flags & Platform::CodeSigning::runtimeFlag) != 0;
}

bool entitled(std::string_view key) { return entitled(Platform::CodeSigning::ownSigningInformation(), key); }

bool entitled(const std::optional<Platform::CodeSigning::SigningInformation>& signature, std::string_view key) {
    if (!signature || !signature->entitlements.is_object()) return false;
    auto found = signature->entitlements.find(key);
    return found != signature->entitlements.end() && found->is_boolean() && found->get<bool>();
}

} // namespace PermissionGrants::Signature
