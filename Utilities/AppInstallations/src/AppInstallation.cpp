#include "AppInstallations/AppInstallation.hpp"
#include "Paths.hpp"

#include <Platform/CodeSigning.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/UTF8.hpp>
#include <Platform/User.hpp>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <unistd.h>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;

using Paths::standardized;

std::string homeFolder() { return standardized(Platform::homeDirectory().string()); }

// The running executable's macOS path, links resolved.
std::optional<std::string> executable() {
    std::error_code error;
    fs::path path = fs::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    return Platform::SimulatedHost::macPath(path);
}

bool exists(const std::string& macPath) {
    std::error_code error;
    return fs::exists(fs::symlink_status(Platform::SimulatedHost::hostPath(macPath), error));
}

} // namespace

std::string folder(Scope scope) { return scope == Scope::everyone ? "/Applications" : homeFolder() + "/Applications"; }

std::string words(Scope scope) { return scope == Scope::everyone ? "For Everyone on This Mac" : "Just for Me"; }

std::string Home::words() const {
    if (const auto* installed = std::get_if<Installed>(&place))
        return installed->scope == Scope::everyone ? "Applications" : "your own Applications folder";
    if (std::holds_alternative<NoBundle>(place)) return "a bare build, outside any app";
    const auto& elsewhere = std::get<Elsewhere>(place);
    switch (elsewhere.origin) {
    case Origin::diskImage: return "the disk image";
    case Origin::translocated: return "a copy macOS made of the download";
    case Origin::folder: break;
    }
    std::string holder = standardized(fs::path(standardized(elsewhere.bundle)).parent_path().string());
    std::string home = homeFolder();
    if (holder == home) return "~";
    if (home != "/" && holder.starts_with(home + "/")) return "~" + holder.substr(home.size());
    return holder;
}

std::optional<std::string> app(const std::string& around) {
    fs::path joined;
    for (const auto& component : fs::path(around)) {
        joined /= component;
        std::string name = component.string();
        if (name.size() > 4 && name.ends_with(".app")) return joined.string();
    }
    return std::nullopt;
}

std::optional<std::string> bundle() {
    auto path = executable();
    return path ? app(*path) : std::nullopt;
}

Home homeOf(const std::optional<std::string>& bundle) {
    if (!bundle) return {Home::NoBundle{}};
    std::string holder = standardized(fs::path(standardized(*bundle)).parent_path().string());
    for (Scope scope : allScopes)
        if (holder == standardized(folder(scope))) return {Home::Installed{scope}};
    Home::Origin origin = bundle->starts_with("/Volumes/")                          ? Home::Origin::diskImage
                          : bundle->find("/AppTranslocation/") != std::string::npos ? Home::Origin::translocated
                                                                                    : Home::Origin::folder;
    return {Home::Elsewhere{*bundle, origin}};
}

Home home() { return homeOf(bundle()); }

std::optional<std::string> installedCopy(const std::vector<Scope>& in) {
    auto running = bundle();
    if (!running) return std::nullopt;
    std::string name = fs::path(standardized(*running)).filename().string();
    for (Scope scope : in) {
        std::string candidate = standardized(folder(scope)) + "/" + name;
        if (standardized(candidate) != standardized(*running) && exists(candidate)) return candidate;
    }
    return std::nullopt;
}

std::string displayName() {
    std::optional<Platform::PropertyValue> info;
    if (auto found = bundle()) info = Platform::readBundleInfo(Platform::SimulatedHost::hostPath(*found));
    if (!info)
        if (const auto& main = Platform::Bundle::main()) info = Platform::readBundleInfo(main->path);
    if (info) {
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"})
            if (auto text = Platform::textValue(*info, key)) return *text;
    }
    return Platform::ProcessTable::name(::getpid()).value_or("");
}

std::string signerNameOf(const std::string& subjectSummary) {
    size_t colon = subjectSummary.find(':');
    std::string name = colon == std::string::npos ? subjectSummary : subjectSummary.substr(colon + 1);
    static const std::regex team(R"(\s*\([A-Z0-9]+\)\s*$)");
    return Platform::UTF8::trimmingWhitespace(std::regex_replace(name, team, ""));
}

std::optional<std::string> signerName() {
    auto info = Platform::CodeSigning::ownSigningInformation();
    if (!info || info->certificates.empty()) return std::nullopt;
    return signerNameOf(info->certificates.front());
}

void reopen(const std::string& why) {
    installLog().info("reopening", [&] { return Log::Fields{{"why", why}}; });
    // The app opens again where it was launched from, as the main bundle
    // says: after an upgrade swapped in beside it, the running image may
    // have gone anywhere (renamed away with the old copy) or nowhere.
    std::optional<std::string> url;
    if (const auto& main = Platform::Bundle::main()) url = Platform::SimulatedHost::macPath(main->path);
    if (!url) url = bundle();
    // A bare build has no app to open: opening its folder would succeed,
    // and quitting would leave nothing running.
    int32_t status = url ? open(*url, {}, false) : -1;
    if (status != 0) {
        installLog().error("reopen failed", [&] { return Log::Fields{{"why", why}, {"open", status}}; });
        return;
    }
    quit();
}

std::vector<std::string> appArguments(const std::vector<std::string>& arguments) {
    std::vector<std::string> kept;
    for (size_t i = 0; i < arguments.size(); ++i) {
        bool isSwitch = std::find(installationSwitches.begin(), installationSwitches.end(), arguments[i]) !=
                        installationSwitches.end();
        if (isSwitch)
            ++i; // its value goes with it
        else
            kept.push_back(arguments[i]);
    }
    return kept;
}

bool isInstallationLaunch(const std::vector<std::string>& arguments) {
    return appArguments(arguments).size() < arguments.size();
}

bool isPlainIdentifier(std::string_view text) {
    if (text.empty() || text.front() == '.') return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    });
}

} // namespace AppInstallation
