#pragma once

#include <Platform/CodeSigning.hpp>

#include <optional>
#include <string_view>

// What the running executable's own code signature says, for the checks the
// platform makes before it even prompts.
namespace PermissionGrants::Signature {

// Signed with the hardened runtime. Unsigned code, or any failure on the
// way, is not.
bool hardened();
bool hardened(const std::optional<Platform::CodeSigning::SigningInformation>& signature);

// The entitlement `key` is the boolean true. Missing, or any other value,
// is not.
bool entitled(std::string_view key);
bool entitled(const std::optional<Platform::CodeSigning::SigningInformation>& signature, std::string_view key);

} // namespace PermissionGrants::Signature
