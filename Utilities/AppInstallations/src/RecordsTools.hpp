#pragma once

#include "Paths.hpp"

#include <string>
#include <string_view>

// What the records' operations share: the platform tools' paths and how
// their paths and outputs are compared.
namespace AppInstallation::RecordsTools {

inline constexpr const char* lsregister =
    "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/lsregister";
inline constexpr const char* pluginkit = "/usr/bin/pluginkit";
inline constexpr const char* mdfind = "/usr/bin/mdfind";

using Paths::standardized;

// Whether the path's last component ends in ".<extension>".
bool hasExtension(std::string_view path, std::string_view extension);

// A tool's output for a one-line message: without its trailing line breaks.
std::string oneLine(std::string output);

} // namespace AppInstallation::RecordsTools
