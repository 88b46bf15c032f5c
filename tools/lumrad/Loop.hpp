#pragma once

#include "Announcer.hpp"
#include "UpdateCheck.hpp"

#include <LumraKit/StateMachine.hpp>
#include <LumraKit/Wire.hpp>

#include <chrono>
#include <functional>
#include <vector>

namespace Lumrad {

// The serving program's one thread: it ticks the engine on time, serves the
// clients on the socket side by side (each exchange driven by readiness, so
// no client can hold the thread), collects the announcer's children and the
// update check's answers, and stops on a termination signal or a hand-back.
// An exception out of any of it parks the engine, so that nothing stays
// disabled, and ends the loop with a failure status for a supervisor to
// restart the service.
class Loop {
public:
    // Exit statuses.
    static constexpr int stopped = 0;    // a signal or a hand-back: everything released, claims kept
    static constexpr int pollFailed = 1; // the loop could not wait any more
    static constexpr int crashed = 70;   // an exception reached the loop

    // At most this many clients are served at once; more wait in the
    // listening socket's queue.
    static constexpr size_t clientLimit = 32;

    struct Parts {
        int listener;   // a listening socket, made non-blocking by the loop
        int signals;    // a signalfd for SIGTERM, SIGINT and SIGCHLD, or -1
        std::chrono::milliseconds tick;
        LumraKit::StateMachine& engine;
        LumraKit::Wire::Handler handle;
        std::function<bool()> handedBack;
        Announcer& announcer;
        UpdateCheck* updates; // none: no update check
    };

    explicit Loop(Parts parts);

    // Runs until the end; the exit status.
    int run();

    // Called after each tick with how late it ran, for measuring.
    std::function<void(std::chrono::nanoseconds)> onTick;

private:
    int serve();
    int wait();
    int fail(const std::string& why, int status);
    int handBack(LumraKit::Wire::Exchange& client);

    Parts parts_;
    std::vector<LumraKit::Wire::Exchange> clients_;
    std::chrono::steady_clock::time_point nextTick_;
};

} // namespace Lumrad
