#include "LaunchServicesStore.hpp"
#include "Platform/LaunchServices.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/User.hpp"

#include <algorithm>

namespace Platform::LaunchServices {

namespace {

namespace fs = std::filesystem;

// Folders with these extensions are bundles: the index shows them whole and
// never what is inside.
bool isBundleName(const fs::path& name) {
    std::string extension = name.extension().string();
    for (std::string_view bundle : {".app", ".appex", ".bundle", ".framework", ".plugin", ".xpc"})
        if (extension == bundle) return true;
    return false;
}

struct Search {
    std::string_view identifier;
    fs::path root;
    std::vector<std::string> found;

    // `folder` is a host path, walked in name order.
    void walk(const fs::path& folder, int depth) {
        if (depth > 64) return;
        std::vector<fs::path> children;
        std::error_code error;
        for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
             !error && it != fs::directory_iterator(); it.increment(error))
            children.push_back(it->path());
        std::ranges::sort(children);
        for (const fs::path& child : children) {
            std::string name = child.filename().string();
            // Hidden folders are not indexed; the simulation's own root may
            // lie inside the home and is searched as the system's folders.
            if (name.starts_with(".") || child == root) continue;
            if (!fs::is_directory(fs::symlink_status(child, error))) continue;
            if (!isBundleName(child.filename())) {
                walk(child, depth + 1);
                continue;
            }
            auto info = Store::readBundle(child);
            if (info && info->identifier == identifier) found.push_back(SimulatedHost::macPath(child, root));
        }
    }
};

} // namespace

std::vector<std::string> bundlesWithIdentifier(std::string_view identifier, const fs::path& root) {
    Search search{identifier, root, {}};
    for (std::string_view folder : {"/Applications", "/Volumes"}) search.walk(SimulatedHost::hostPath(folder, root), 0);
    search.walk(homeDirectory(), 0);
    return search.found;
}

} // namespace Platform::LaunchServices
