#include "AppInstallations/AppInstallation.hpp"
#include "AppInstallations/Settlement.hpp"

#include <Platform/PropertyList.hpp>
#include <Platform/SimulatedHost.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;

// The first definition in the bundle's folder whose Label is `label`.
std::optional<OwnJob> definedIn(const std::string& bundle, const char* folder, std::string_view label) {
    std::vector<fs::path> entries;
    std::error_code error;
    fs::directory_iterator listing(Platform::SimulatedHost::hostPath(bundle + "/Contents/Library/" + folder), error);
    for (; !error && listing != fs::directory_iterator(); listing.increment(error)) entries.push_back(listing->path());
    // The file system lists in no particular order.
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        auto definition = Platform::readPropertyList(entry);
        if (definition && Platform::textValue(*definition, "Label") == label)
            return OwnJob{std::string(label), entry.filename().string()};
    }
    return std::nullopt;
}

} // namespace

std::optional<OwnJob> ownJob(const std::optional<std::string>& bundle, std::string_view serviceName) {
    if (serviceName.empty() || serviceName == "0" || !bundle) return std::nullopt;
    if (auto agent = definedIn(*bundle, "LaunchAgents", serviceName)) return agent;
    return definedIn(*bundle, "LaunchDaemons", serviceName);
}

std::optional<OwnJob> ownJob() {
    const char* serviceName = std::getenv("XPC_SERVICE_NAME");
    if (serviceName == nullptr) return std::nullopt;
    return ownJob(bundle(), serviceName);
}

std::optional<std::string> ownJobLabel() {
    if (auto job = ownJob()) return job->label;
    return std::nullopt;
}

} // namespace AppInstallation
