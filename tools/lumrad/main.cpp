// lumrad: the serving program. It owns the one engine of this user, ticks it
// and answers the clients on the local socket, all on the main thread, until
// SIGTERM or SIGINT parks it. See Loop.hpp and Service.hpp. Run by launchd as
// the app's agent it also watches its own image, as every process of the app
// does, and leaves when the app moves, is upgraded or is deleted.

#include "Announcer.hpp"
#include "InstanceLock.hpp"
#include "Loop.hpp"
#include "Options.hpp"
#include "Service.hpp"
#include "SocketFile.hpp"
#include "UpdateCheck.hpp"

#include <LumraKit/HostWorld.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/LinuxWorld.hpp>
#include <LumraKit/Log.hpp>
#include <LumraKit/StateMachine.hpp>
#include <LumraKit/Wire.hpp>

#include <AppInstallations/Settlement.hpp>
#include <AppInstallations/System.hpp>
#include <Log/Output.hpp>
#include <PermissionGrants/PermissionGrant.hpp>
#include <Platform/Files.hpp>
#include <Platform/HTTP.hpp>
#include <Platform/MainBundle.hpp>
#include <Watch.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// Blocks the signals the loop waits for and returns a descriptor that
// reports them: termination, and children ending so that they are reaped
// promptly.
int signalDescriptor() {
    sigset_t watched;
    sigemptyset(&watched);
    for (int signal : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&watched, signal);
    if (::sigprocmask(SIG_BLOCK, &watched, nullptr) != 0) return -1;
    return ::signalfd(-1, &watched, SFD_CLOEXEC | SFD_NONBLOCK);
}

void say(std::string_view text) { Platform::Files::writeAll(STDERR_FILENO, "lumrad: " + std::string(text) + "\n"); }

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // A privacy probe answers and ends here, before anything else starts.
    PermissionGrants::PermissionGrant::answerProbeIfAsked(arguments);
    auto parsed = Lumrad::parseOptions(arguments);
    if (auto* error = std::get_if<Lumrad::UsageError>(&parsed)) {
        Platform::Files::writeAll(STDERR_FILENO, "lumrad: " + error->message + "\n" + std::string(Lumrad::usageText));
        return 2;
    }
    const auto& options = std::get<Lumrad::Options>(parsed);
    if (options.help) {
        Platform::Files::writeAll(STDOUT_FILENO, Lumrad::usageText);
        return 0;
    }
    if (options.version) {
        Platform::Files::writeAll(STDOUT_FILENO, "lumrad " + std::string(LumraKit::Identity::version) + "\n");
        return 0;
    }

    // One service per state folder. The lock comes before anything else is
    // touched, so a second one leaves the first's socket, claims and log alone,
    // and it says so where it was started.
    const auto& paths = LumraKit::Paths::current();
    LumraKit::Paths::ensureStateDir();
    auto locked = Lumrad::InstanceLock::acquire(paths.stateDir / "lumrad.lock");
    if (auto* held = std::get_if<Lumrad::InstanceLock::Held>(&locked)) {
        say(held->pid ? "already running (pid " + std::to_string(*held->pid) + ")" : std::string("already running"));
        return 1;
    }
    if (auto* failed = std::get_if<Lumrad::InstanceLock::Failed>(&locked)) {
        say("cannot lock " + (paths.stateDir / "lumrad.lock").string() + ": " + std::strerror(failed->error));
        return 1;
    }
    // Private by default, also what an earlier version left readable.
    Platform::Files::makePrivate(paths.stateDir);
    if (options.serviceLog) {
        LumraKit::Paths::redirectOutputToServiceLog();
        Platform::Files::makePrivate(paths.logDir);
    }

    // A client that leaves before its reply must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    int signals = signalDescriptor();
    if (signals < 0) {
        LumraKit::log(std::string("lumrad cannot watch its signals: ") + std::strerror(errno));
        return 1;
    }

    // The socket first: a service that cannot listen stops before its engine
    // takes over the machine (re-arming stored claims) with nobody to serve.
    int listener = LumraKit::Wire::listen();
    Lumrad::SocketFile socket(paths.socket);
    // Only as launchd's agent of a Mac: run by hand, by a test or on Linux it
    // is nobody's job to hand over. Started after the signals are blocked,
    // so the watch's threads leave them to the loop.
    std::shared_ptr<AppInstallation::ImageWatch> watch;
    if (options.host == Lumrad::Host::mac && AppInstallation::ownJob())
        watch = LumraJobs::watch(
            [socket] {
                socket.removeIfStillOurs();
                Log::flushLog();
                std::fflush(nullptr);
            },
            arguments);
    std::unique_ptr<LumraKit::World> world;
    if (options.host == Lumrad::Host::linux)
        world = std::make_unique<LumraKit::LinuxWorld>(paths, LumraKit::LinuxWorld::Facilities{});
    else
        world = std::make_unique<LumraKit::HostWorld>(paths);
    LumraKit::StateMachine engine(*world);
    Lumrad::Announcer announcer(Lumrad::notifierPath(options.notifier, Platform::Bundle::main()));
    std::optional<std::string> feed = options.updateFeed ? options.updateFeed : engine.config().updateFeed;
    Lumrad::UpdateCheck updates(feed, Platform::httpClient(), std::string(LumraKit::Identity::version));
    Lumrad::Service service(engine, announcer, feed);

    LumraKit::log("lumrad serving on " + paths.socket.string() + ", ticking every " +
                  std::to_string(options.tick.count()) + " ms, version " + std::string(LumraKit::Identity::version) +
                  (feed ? ", update feed " + *feed : std::string(", no update feed")));

    Lumrad::Loop loop({
        .listener = listener,
        .signals = signals,
        .tick = options.tick,
        .engine = engine,
        .handle = [&service](const LumraKit::Command& command) { return service.handle(command); },
        .handedBack = [&service] { return service.handedBack(); },
        .announcer = announcer,
        .updates = &updates,
    });
    int status = loop.run();
    socket.removeIfStillOurs();
    // The watch's thread may be leaving right now (booting its own job out
    // is what sent this SIGTERM): the process ends here, running no static
    // destructors under that thread, or waits for that thread to end it.
    if (watch) AppInstallation::exitNow(status);
    return status;
}
