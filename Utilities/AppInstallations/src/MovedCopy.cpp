#include "AppInstallations/ImageWatch.hpp"

#include "Paths.hpp"

#include <Platform/MainBundle.hpp>

#include <set>

namespace AppInstallation {

std::optional<std::string> ImageWatch::movedCopy(const std::string& of, const std::string& name,
                                                 const std::string& besides, uint64_t executable) const {
    using Platform::SimulatedHost::hostPath;
    struct Candidate {
        std::string path;
        bool inApplications;
    };
    std::vector<Candidate> candidates;
    for (Scope scope : allScopes) candidates.push_back({folder(scope) + "/" + name, true});
    // An identifier that is not plain never reaches the search index.
    if (isPlainIdentifier(of))
        for (auto& copy : system_->indexedCopies(of)) candidates.push_back({std::move(copy), false});

    std::set<std::string> seen{Paths::standardized(besides)};
    for (const auto& [path, inApplications] : candidates) {
        std::string standard = Paths::standardized(path);
        if (!seen.insert(standard).second) continue;
        if (standard.find("/.Trash/") != std::string::npos || standard.find("/.Trashes/") != std::string::npos ||
            standard.find("/AppTranslocation/") != std::string::npos)
            continue;
        auto identifier = Platform::readBundleIdentifier(hostPath(standard) / "Contents/Info.plist");
        if (!identifier || *identifier != of) continue;
        if (inApplications) return standard;
        // Elsewhere only the very same file counts: a copy of the app is
        // not where this one went.
        auto image = Platform::bundleExecutable(hostPath(standard));
        if (!image) continue;
        FileLook look = system_->look(Platform::SimulatedHost::macPath(*image));
        if (look.error == 0 && look.inode == executable) return standard;
    }
    return std::nullopt;
}

} // namespace AppInstallation
