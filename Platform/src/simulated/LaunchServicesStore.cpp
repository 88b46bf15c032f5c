#include "LaunchServicesStore.hpp"
#include "CompactJSON.hpp"
#include "Platform/MainBundle.hpp"

namespace Platform::LaunchServices::Store {

namespace fs = std::filesystem;

fs::path folder(const fs::path& root) { return root / "launchservices"; }

Lock::Lock(const fs::path& root) : Files::Lock(folder(root) / "lock") {}

nlohmann::json read(const fs::path& file) {
    auto text = Files::read(file);
    return text ? nlohmann::json::parse(*text, nullptr, false) : nlohmann::json();
}

bool write(const fs::path& file, const nlohmann::json& value) {
    Files::createDirectories(file.parent_path());
    return !Files::writeAtomically(file, compactJSON(value) + "\n");
}

std::optional<BundleInfo> readBundle(const fs::path& hostPath) {
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(hostPath, error))) return std::nullopt;
    auto info = readBundleInfo(hostPath);
    if (!info) return std::nullopt;
    auto identifier = textValue(*info, "CFBundleIdentifier");
    if (!identifier || identifier->empty()) return std::nullopt;
    BundleInfo bundle{*identifier, "", ""};
    bundle.name = textValue(*info, "CFBundleName").value_or(hostPath.stem().string());
    bundle.version =
        textValue(*info, "CFBundleShortVersionString").value_or(textValue(*info, "CFBundleVersion").value_or(""));
    return bundle;
}

bool isAppOrExtension(std::string_view name) { return name.ends_with(".app") || name.ends_with(".appex"); }

std::string standardized(std::string_view macPath) {
    std::string path = fs::path(macPath).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string problemWith(const std::string& macPath, const fs::path& hostPath) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(hostPath, error))) return macPath + ": No such file or directory";
    return macPath + ": not a bundle with an identifier";
}

} // namespace Platform::LaunchServices::Store
