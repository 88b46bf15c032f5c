#include "LaunchServicesStore.hpp"
#include "Platform/LaunchServices.hpp"
#include "Platform/SimulatedHost.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace Platform::LaunchServices {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path extensionsFile(const fs::path& root) { return Store::folder(root) / "extensions.json"; }

json readRegistry(const fs::path& root) {
    json document = Store::read(extensionsFile(root));
    if (!document.is_object()) document = json::object();
    if (!document.contains("extensions") || !document["extensions"].is_array()) document["extensions"] = json::array();
    return document;
}

std::optional<Extension> parse(const json& entry) {
    if (!entry.is_object()) return std::nullopt;
    for (const char* key : {"path", "identifier", "version"})
        if (!entry.contains(key) || !entry[key].is_string()) return std::nullopt;
    if (!entry.contains("addedAt") || !entry["addedAt"].is_number_integer()) return std::nullopt;
    return Extension{entry["path"], entry["identifier"], entry["version"], entry["addedAt"].get<int64_t>()};
}

int64_t nowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool isPath(const json& entry, const std::string& path) {
    return entry.is_object() && entry.contains("path") && entry["path"] == path;
}

} // namespace

std::optional<std::string> addExtension(std::string_view path, const fs::path& root) {
    std::string macPath = Store::standardized(path);
    fs::path host = SimulatedHost::hostPath(macPath, root);
    auto info = macPath.ends_with(".appex") ? Store::readBundle(host) : std::nullopt;
    if (!info) return Store::problemWith(macPath, host);
    Store::Lock lock(root);
    json registry = readRegistry(root);
    json& list = registry["extensions"];
    auto same = std::ranges::find_if(list, [&](const json& entry) { return isPath(entry, macPath); });
    // Adding again refreshes what the bundle says, never the time it was
    // first added: a caller that keeps adding still sees it listed in time.
    int64_t addedAt = nowMilliseconds();
    if (same != list.end()) {
        if (auto known = parse(*same)) addedAt = known->addedAt;
        list.erase(same);
    }
    list.push_back(
        {{"path", macPath}, {"identifier", info->identifier}, {"version", info->version}, {"addedAt", addedAt}});
    if (!Store::write(extensionsFile(root), registry)) return macPath + ": the registry cannot be written";
    return std::nullopt;
}

bool removeExtension(std::string_view path, const fs::path& root) {
    std::string macPath = Store::standardized(path);
    Store::Lock lock(root);
    json registry = readRegistry(root);
    json kept = json::array();
    for (const json& entry : registry["extensions"])
        if (!isPath(entry, macPath)) kept.push_back(entry);
    if (kept.size() == registry["extensions"].size()) return false;
    registry["extensions"] = std::move(kept);
    return Store::write(extensionsFile(root), registry);
}

std::vector<Extension> listedExtensions(std::string_view identifier, const fs::path& root) {
    json registry = readRegistry(root);
    double delay = extensionDelay(root);
    double rate = SimulatedHost::readTimeRate(root);
    int64_t now = nowMilliseconds();
    std::vector<Extension> listed;
    for (const json& entry : registry["extensions"]) {
        auto extension = parse(entry);
        if (!extension || !extension->identifier.starts_with(identifier)) continue;
        double simulatedSeconds = static_cast<double>(now - extension->addedAt) / 1000.0 * rate;
        if (simulatedSeconds >= delay) listed.push_back(std::move(*extension));
    }
    return listed;
}

double extensionDelay(const fs::path& root) {
    json registry = readRegistry(root);
    if (!registry.contains("delay") || !registry["delay"].is_number()) return 0;
    double delay = registry["delay"].get<double>();
    return std::isfinite(delay) && delay > 0 ? delay : 0;
}

bool setExtensionDelay(double seconds, const fs::path& root) {
    if (!std::isfinite(seconds) || seconds < 0) return false;
    Store::Lock lock(root);
    json registry = readRegistry(root);
    registry["delay"] = seconds;
    return Store::write(extensionsFile(root), registry);
}

} // namespace Platform::LaunchServices
