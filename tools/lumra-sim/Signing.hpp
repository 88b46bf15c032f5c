#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// lumra-sim's commands for code signatures and test bundles.
namespace LumraSim {

inline constexpr const char* bundleUsage =
    "       lumra-sim sign APP --identity SUBJECT | --adhoc [--identifier ID] [--hardened]\n"
    "                          [--entitlements PLIST]\n"
    "                                   seal the bundle (nested bundles first) in its signature\n"
    "       lumra-sim sign --verify APP print \"valid\", or the first file that breaks the seal\n"
    "       lumra-sim bundle make APP --identifier ID [--name NAME] [--executable NAME]\n"
    "                          [--program FILE | --no-program] [--version V] [--agent PLIST]...\n"
    "                          [--daemon PLIST]... [--extension NAME=ID]...\n"
    "                                   make an application bundle for tests; prints its host path\n";

// The host path of a macOS path given on the command line.
std::filesystem::path mapped(const std::string& macPath);

// `lumra-sim sign …` (the arguments after "sign"): the exit status, or
// nothing for a usage error.
std::optional<int> sign(const std::vector<std::string>& arguments);

// `lumra-sim bundle make …` (the arguments after "make"), likewise.
std::optional<int> makeBundle(const std::vector<std::string>& arguments);

} // namespace LumraSim
