#pragma once

#include "Platform/Files.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The files of the simulated Launch Services under launchservices/ in the
// simulation root, and how a bundle on disk reads to it.
namespace Platform::LaunchServices::Store {

std::filesystem::path folder(const std::filesystem::path& root);

// Around every read-modify-write of the folder's files.
class Lock : public Files::Lock {
public:
    explicit Lock(const std::filesystem::path& root);
};

// The file's JSON; null when it is missing or damaged.
nlohmann::json read(const std::filesystem::path& file);
bool write(const std::filesystem::path& file, const nlohmann::json& value);

// What the database keeps of a bundle on disk.
struct BundleInfo {
    std::string identifier, name, version;
};

// The .app or .appex at the host path, when it is a folder (not a link)
// whose Info.plist has a CFBundleIdentifier.
std::optional<BundleInfo> readBundle(const std::filesystem::path& hostPath);

// Whether the name ends in ".app" or ".appex".
bool isAppOrExtension(std::string_view name);

// The macOS path without "." and ".." parts or a trailing "/".
std::string standardized(std::string_view macPath);

// "<path>: No such file or directory" when nothing is there, else
// "<path>: not a bundle with an identifier".
std::string problemWith(const std::string& macPath, const std::filesystem::path& hostPath);

} // namespace Platform::LaunchServices::Store
