// lumrad: the serving program. It owns the one engine of this user, ticks it
// and answers the clients on the local socket, one at a time, all on the
// main thread, until SIGTERM or SIGINT parks it. See Service.hpp.

#include "Announcer.hpp"
#include "Options.hpp"
#include "Service.hpp"
#include "SocketFile.hpp"

#include <LumraKit/HostWorld.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/LinuxWorld.hpp>
#include <LumraKit/Log.hpp>
#include <LumraKit/StateMachine.hpp>
#include <LumraKit/Wire.hpp>

#include <Platform/Files.hpp>
#include <Platform/MainBundle.hpp>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

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

// The termination signal that arrived, if any; other signals are consumed.
std::optional<int> termination(int signals) {
    std::optional<int> stop;
    signalfd_siginfo info{};
    while (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) stop = static_cast<int>(info.ssi_signo);
    return stop;
}

} // namespace

int main(int argc, char** argv) {
    auto parsed = Lumrad::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (auto* error = std::get_if<Lumrad::UsageError>(&parsed)) {
        Platform::Files::writeAll(STDERR_FILENO, "lumrad: " + error->message + "\n" + std::string(Lumrad::usageText));
        return 2;
    }
    const auto& options = std::get<Lumrad::Options>(parsed);
    if (options.help) {
        Platform::Files::writeAll(STDOUT_FILENO, Lumrad::usageText);
        return 0;
    }
    if (options.serviceLog) LumraKit::Paths::redirectOutputToServiceLog();

    // A client that leaves before its reply must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    int signals = signalDescriptor();
    if (signals < 0) {
        LumraKit::log(std::string("lumrad cannot watch its signals: ") + std::strerror(errno));
        return 1;
    }

    const auto& paths = LumraKit::Paths::current();
    // The socket first: a service that cannot listen stops before its engine
    // takes over the machine (re-arming stored claims) with nobody to serve.
    int listener = LumraKit::Wire::listen();
    Lumrad::SocketFile socket(paths.socket);
    std::unique_ptr<LumraKit::World> world;
    if (options.host == Lumrad::Host::linux)
        world = std::make_unique<LumraKit::LinuxWorld>(paths, LumraKit::LinuxWorld::Facilities{});
    else
        world = std::make_unique<LumraKit::HostWorld>(paths);
    LumraKit::StateMachine engine(*world);
    Lumrad::Announcer announcer(Lumrad::notifierPath(options.notifier, Platform::Bundle::main()));
    Lumrad::Service service(engine, announcer);
    auto handle = [&service](const LumraKit::Command& command) { return service.handle(command); };

    LumraKit::log("lumrad serving on " + paths.socket.string() + ", ticking every " +
                  std::to_string(options.tick.count()) + " ms");

    auto nextTick = Clock::now() + options.tick;
    for (;;) {
        auto now = Clock::now();
        if (now >= nextTick) {
            engine.tick();
            nextTick = now + options.tick;
        }
        announcer.reap();

        auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now());
        pollfd watched[2] = {{listener, POLLIN, 0}, {signals, POLLIN, 0}};
        if (::poll(watched, 2, static_cast<int>(std::max<int64_t>(wait.count(), 0))) < 0 && errno != EINTR) {
            LumraKit::log(std::string("lumrad stops: poll failed: ") + std::strerror(errno));
            engine.park();
            socket.removeIfStillOurs();
            return 1;
        }
        if (watched[1].revents != 0) {
            if (auto signal = termination(signals)) {
                engine.park();
                socket.removeIfStillOurs();
                LumraKit::log(std::string("lumrad stopped by ") + (*signal == SIGTERM ? "SIGTERM" : "SIGINT") +
                              ": everything released, claims kept");
                return 0;
            }
        }
        if (watched[0].revents != 0) {
            LumraKit::Wire::acceptAndServe(listener, handle);
            if (service.handedBack()) {
                socket.removeIfStillOurs();
                LumraKit::log("lumrad handed back: everything released, claims kept");
                return 0;
            }
        }
    }
}
