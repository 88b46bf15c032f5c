#pragma once

#include <Platform/SimulatedHost.hpp>

#include <filesystem>
#include <string>
#include <string_view>

// Path helpers the installation layer shares. Paths are macOS paths.
namespace AppInstallation::Paths {

// The path with "." and ".." worked out and no trailing "/", without
// touching the disk (links are not followed).
inline std::string standardized(std::string_view path) {
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

// Whether anything is at the path, a dangling link included.
inline bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(Platform::SimulatedHost::hostPath(path), error));
}

// The last component of a standardized path.
inline std::string name(const std::string& path) {
    return std::filesystem::path(standardized(path)).filename().string();
}

} // namespace AppInstallation::Paths
