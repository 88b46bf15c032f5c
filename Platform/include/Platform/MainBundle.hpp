#pragma once

#include "Platform/PropertyList.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace Platform {

// An application bundle: a folder X.app holding Contents/Info.plist and its
// executables in Contents/MacOS.
struct Bundle {
    std::filesystem::path path;            // host path of the .app folder
    std::optional<std::string> identifier; // CFBundleIdentifier, when the Info.plist has one

    // The bundle around an executable laid out as X.app/Contents/MacOS/<name>;
    // nothing for an executable anywhere else.
    static std::optional<Bundle> containing(const std::filesystem::path& executable);

    // The bundle around the running executable (/proc/self/exe), read once.
    static const std::optional<Bundle>& main();
};

// The information dictionary (Contents/Info.plist) of the bundle at the host
// path `bundle`; nothing when it is missing, damaged or not a dictionary.
std::optional<PropertyValue> readBundleInfo(const std::filesystem::path& bundle);

// The host path of the bundle's main executable, Contents/MacOS/ followed by
// its CFBundleExecutable; nothing when the Info.plist names none (or names a
// path that leaves Contents/MacOS).
std::optional<std::filesystem::path> bundleExecutable(const std::filesystem::path& bundle);

// The CFBundleIdentifier of an Info.plist in XML or binary form; nothing when
// the file is missing, damaged or has no such string.
std::optional<std::string> readBundleIdentifier(const std::filesystem::path& infoPlist);

// The running process's main bundle identifier, if it has one.
std::optional<std::string> mainBundleIdentifier();

} // namespace Platform
