#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace LumraKit {

// Which build a process belongs to (release or development). Every program of
// the service resolves the same identity: the notifier's own identifier, the
// engine's followed by ".notifier", maps back to the engine's.
struct Identity {
    // The base bundle identifier.
    static constexpr std::string_view release = LUMRA_RELEASE_ID;
    // The version of the service's programs, as the update check compares it.
    static constexpr std::string_view version = LUMRA_VERSION;

    std::string bundleID;
    bool dev = false;

    // `name`, followed by "-dev" in a development build.
    std::string root(std::string_view name) const;

    // The identity of a process whose main bundle has this identifier; none
    // means a development build.
    static Identity resolve(const std::optional<std::string>& mainBundleID);

    // The running process's identity, resolved once at first use.
    static const Identity& current();
};

// Every path the engine uses, derived from the home folder and the identity.
// macOS paths (`sudoers`) stay in their macOS form; the platform layer maps
// them to the host.
struct Paths {
    std::filesystem::path stateDir;
    std::filesystem::path claimsFile;
    std::filesystem::path suspendFile;
    std::filesystem::path configFile;
    std::filesystem::path notificationsFile;
    std::filesystem::path socket;
    std::string sudoers;
    std::string launchdLabel;
    std::string notifierBundleID;
    std::filesystem::path logDir;
    std::filesystem::path serviceLog;

    // The state and log folders and every file in them are the user's
    // alone: the configuration may hold a hook with a token in it.
    static constexpr mode_t privateFolderMode = 0700;
    static constexpr mode_t privateFileMode = 0600;

    static Paths derive(const std::filesystem::path& home, const Identity& identity);

    // The running process's paths, computed once at first use.
    static const Paths& current();

    // Creates stateDir with its parents; errors are not reported.
    static void ensureStateDir();

    // For the long-running service: standard output and standard error append
    // to serviceLog from now on, standard output line-buffered. When the log
    // cannot be opened both stay where they were and one line says why.
    static void redirectOutputToServiceLog();
    static void redirectOutput(const std::filesystem::path& logDir, const std::filesystem::path& serviceLog);
};

} // namespace LumraKit
