#include "PermissionGrants/GrantLog.hpp"
#include "PermissionGrants/PrivacyCodes.hpp"
#include "PermissionGrants/PrivacyHub.hpp"
#include "PermissionGrants/Readings.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <AppInstallations/System.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/SimulatedHost.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace PermissionGrants {

namespace {

using namespace std::chrono_literals;

// A probe reads ten permissions and ends; past this (in simulated time) it
// hangs, and is killed.
constexpr Platform::Duration probeDeadline = 5s;

std::atomic<bool>& probesAllowed() {
    static std::atomic<bool> allowed{false};
    return allowed;
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<size_t>(written));
    }
}

} // namespace

void PrivacyHub::answerProbeIfAsked(const std::vector<std::string>& arguments) {
    // Only the hub starts probes, and always with this one argument: the
    // word anywhere else is some other program's business.
    if (!PrivacyCodes::isProbeLaunch(arguments)) {
        probesAllowed() = true;
        return;
    }
    // A probe runs every two seconds while the window is open: it writes its
    // ten lines and nothing else, and leaves without the exit work, so no log
    // line is recorded or shipped and no batch is waited for.
    auto& services = Platform::Privacy::Services::current();
    auto source = PrivacyCodes::chooseSource(std::getenv("GRANT_PUBLIC_API"), services.hasPreflight());
    std::fflush(stdout);
    writeAll(STDOUT_FILENO, PrivacyCodes::probeOutput(source, services));
    ::_exit(0);
}

std::optional<std::map<Privacy, int>> PrivacyHub::freshCodes() {
    if (!use_.probes || !use_.probes()) return std::nullopt;
    auto* services = use_.services;
    if (!services->hasDisclaim()) {
        std::call_once(disclaimMissingLogged_, [] {
            grantLog.error("responsibility_spawnattrs_setdisclaim is gone: no fresh probe, changes show on reopen");
        });
        return std::nullopt;
    }
    if (!use_.executable) return std::nullopt;
    auto limit = std::chrono::ceil<std::chrono::milliseconds>(use_.probeLimit);
    auto spawned = AppInstallation::spawn(
        use_.executable->string(), {std::string(PrivacyCodes::probeArgument)},
        [services](posix_spawnattr_t& attributes) { return services->disclaim(attributes, 1) == 0; }, limit);
    if (const auto* notStarted = std::get_if<AppInstallation::NotStarted>(&spawned)) {
        grantLog.warn("fresh probe did not start", [&] { return Log::Fields{{"errno", notStarted->error}}; });
        return std::nullopt;
    }
    const auto& ran = std::get<AppInstallation::Ran>(spawned);
    auto codes = PrivacyCodes::parseProbeOutput(ran.output);
    if (codes.size() == allPrivacies.size() && !ran.timedOut) return codes;
    auto message = "fresh probe answered " + std::to_string(codes.size()) + " of " +
                   std::to_string(allPrivacies.size());
    if (ran.timedOut)
        grantLog.warn(message, [&] { return Log::Fields{{"timedOut", true}}; });
    else
        grantLog.warn(message);
    return std::nullopt;
}

std::unique_ptr<Platform::Queue> PrivacyHub::makeQueue() { return Platform::makeUtilityQueue(); }

PrivacyHub& PrivacyHub::shared() {
    static PrivacyHub* hub = [] {
        static Platform::Queue* queue = makeQueue().release();
        Dependencies use;
        use.services = &Platform::Privacy::Services::current();
        use.queue = queue;
        use.main = &Platform::mainLoop();
        use.clock = &Platform::rateClock();
        use.events = &Platform::AppEvents::current();
        use.workspace = &Platform::Workspace::shared();
        use.readings = &Readings::shared();
        use.publicAPIVariable = [] { return static_cast<const char*>(std::getenv("GRANT_PUBLIC_API")); };
        use.probes = [] { return probesAllowed().load(); };
        if (const auto& bundle = Platform::Bundle::main()) use.executable = Platform::bundleExecutable(bundle->path);
        use.probeLimit = Platform::hostDuration(probeDeadline, Platform::SimulatedHost::timeRate());
        use.activate = [] {
            if (Platform::Bundle::main()) Platform::AppEvents::current().activate();
        };
        use.reopen = [](const std::string& why) { AppInstallation::reopen(why); };
        use.signature = [] { return Platform::CodeSigning::ownSigningInformation(); };
        // Never destroyed, nor its queue: its timer and subscriptions live as
        // long as the process, and a refresh may still run while it exits.
        return new PrivacyHub(std::move(use));
    }();
    return *hub;
}

} // namespace PermissionGrants
