#include "Platform/MainBundle.hpp"

namespace Platform {

std::optional<std::string> readBundleIdentifier(const std::filesystem::path& infoPlist) {
    auto info = readPropertyList(infoPlist);
    auto identifier = info ? textValue(*info, "CFBundleIdentifier") : std::nullopt;
    if (!identifier || identifier->empty()) return std::nullopt;
    return identifier;
}

std::optional<PropertyValue> readBundleInfo(const std::filesystem::path& bundle) {
    auto info = readPropertyList(bundle / "Contents/Info.plist");
    if (!info || info->as<PropertyDictionary>() == nullptr) return std::nullopt;
    return info;
}

std::optional<std::filesystem::path> bundleExecutable(const std::filesystem::path& bundle) {
    auto info = readBundleInfo(bundle);
    auto name = info ? textValue(*info, "CFBundleExecutable") : std::nullopt;
    if (!name || name->empty() || name->find('/') != std::string::npos || *name == "." || *name == "..")
        return std::nullopt;
    return bundle / "Contents/MacOS" / *name;
}

std::optional<Bundle> Bundle::containing(const std::filesystem::path& executable) {
    std::filesystem::path macOS = executable.parent_path();
    std::filesystem::path contents = macOS.parent_path();
    std::filesystem::path app = contents.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents" || app.extension() != ".app")
        return std::nullopt;
    return Bundle{app, readBundleIdentifier(contents / "Info.plist")};
}

const std::optional<Bundle>& Bundle::main() {
    static const std::optional<Bundle> bundle = [] {
        std::error_code error;
        std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
        return error ? std::nullopt : containing(executable);
    }();
    return bundle;
}

std::optional<std::string> mainBundleIdentifier() {
    const auto& bundle = Bundle::main();
    return bundle ? bundle->identifier : std::nullopt;
}

} // namespace Platform
