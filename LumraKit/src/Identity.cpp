#include "LumraKit/Identity.hpp"
#include "LumraKit/Log.hpp"

#include <Platform/Files.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/User.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace LumraKit {

namespace {

constexpr std::string_view notifierSuffix = ".notifier";

} // namespace

std::string Identity::root(std::string_view name) const { return std::string(name) + (dev ? "-dev" : ""); }

Identity Identity::resolve(const std::optional<std::string>& mainBundleID) {
    std::string bundleID;
    if (!mainBundleID) {
        bundleID = std::string(release) + ".dev";
    } else {
        bundleID = *mainBundleID;
        if (bundleID.ends_with(notifierSuffix)) bundleID.erase(bundleID.size() - notifierSuffix.size());
    }
    bool dev = bundleID != release;
    return {std::move(bundleID), dev};
}

const Identity& Identity::current() {
    static const Identity identity = resolve(Platform::mainBundleIdentifier());
    return identity;
}

Paths Paths::derive(const std::filesystem::path& home, const Identity& identity) {
    Paths paths;
    paths.stateDir = home / ".local/state" / identity.root("lumra");
    paths.claimsFile = paths.stateDir / "claims.json";
    paths.suspendFile = paths.stateDir / "suspended.json";
    paths.configFile = paths.stateDir / "config.json";
    paths.notificationsFile = paths.stateDir / "notifications.json";
    paths.socket = paths.stateDir / "lumra.sock";
    paths.sudoers = "/etc/sudoers.d/lumra";
    paths.launchdLabel = identity.bundleID;
    paths.notifierBundleID = identity.bundleID + std::string(notifierSuffix);
    paths.logDir = home / "Library/Logs" / identity.root("lumra");
    paths.serviceLog = paths.logDir / "service.log";
    return paths;
}

const Paths& Paths::current() {
    static const Paths paths = derive(Platform::homeDirectory(), Identity::current());
    return paths;
}

void Paths::ensureStateDir() { Platform::Files::createDirectories(current().stateDir, privateFolderMode); }

void Paths::redirectOutputToServiceLog() { redirectOutput(current().logDir, current().serviceLog); }

void Paths::redirectOutput(const std::filesystem::path& logDir, const std::filesystem::path& serviceLog) {
    Platform::Files::createDirectories(logDir, privateFolderMode);
    int fd = ::open(serviceLog.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, privateFileMode);
    if (fd < 0) {
        log("cannot open the service log " + serviceLog.string() +
            ", output stays where it was: " + std::strerror(errno));
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

} // namespace LumraKit
