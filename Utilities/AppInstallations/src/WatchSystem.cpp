#include "AppInstallations/ImageWatch.hpp"

#include "AppInstallations/Records.hpp"
#include "AppInstallations/Settlement.hpp"

#include <Platform/Credentials.hpp>
#include <Platform/SimulatedHost.hpp>

#include <cerrno>
#include <sys/stat.h>

namespace AppInstallation {

std::shared_ptr<const WatchSystem> WatchSystem::live() {
    static const auto system = [] {
        auto made = std::make_shared<WatchSystem>();
        made->look = [](const std::string& path) {
            struct stat status {};
            if (::stat(Platform::SimulatedHost::hostPath(path).c_str(), &status) != 0) return FileLook{0, errno};
            return FileLook{static_cast<uint64_t>(status.st_ino), 0};
        };
        made->whole = &ImageWatch::whole;
        made->indexedCopies = &AppInstallation::indexedCopies;
        made->claimRecords = &AppInstallation::claimRecords;
        made->settle = &Job::settle;
        made->writeTombstone = &Tombstone::write;
        made->handOver = &AppInstallation::handOver;
        made->leave = &AppInstallation::leave;
        made->reopen = &AppInstallation::reopen;
        made->atExit = &AppInstallation::atExit;
        made->exit = &AppInstallation::exitNow;
        made->run = &AppInstallation::run;
        made->uid = [] { return Platform::Credentials::currentUID(); };
        made->ownExecutable = []() -> std::optional<std::string> {
            std::error_code error;
            auto path = std::filesystem::read_symlink("/proc/self/exe", error);
            if (error) return std::nullopt;
            return Platform::SimulatedHost::macPath(path);
        };
        return std::shared_ptr<const WatchSystem>(made);
    }();
    return system;
}

bool ImageWatch::whole(const std::string& path, const std::string& bundle,
                       const Platform::CodeSigning::Requirement& requirement) {
    using Platform::SimulatedHost::hostPath;
    // The image alone could be complete while the rest of the copy is still
    // arriving: both must hold before anything runs it.
    return !Platform::CodeSigning::validate(hostPath(path), requirement, false) &&
           !Platform::CodeSigning::validate(hostPath(bundle), std::nullopt, true);
}

} // namespace AppInstallation
