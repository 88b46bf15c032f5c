#pragma once

#include <filesystem>

namespace Platform {

// The current user's home folder: $HOME when set and not empty, else the
// user database's entry. Tests point $HOME at a temporary folder.
std::filesystem::path homeDirectory();

} // namespace Platform
