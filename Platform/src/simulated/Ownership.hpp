#pragma once

#include "Platform/Credentials.hpp"

// Inside the simulated host only: gives a file its owner without asking who
// runs, for the system files a fresh machine is laid out with.
namespace Platform::Credentials {

bool recordOwner(const std::filesystem::path& path, Owner owner, const std::filesystem::path& root);

} // namespace Platform::Credentials
