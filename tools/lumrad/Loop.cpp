#include "Loop.hpp"

#include <LumraKit/Log.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace Lumrad {

namespace {

using Clock = std::chrono::steady_clock;

// The termination signal that arrived, if any; other signals are consumed.
std::optional<int> termination(int signals) {
    std::optional<int> stop;
    signalfd_siginfo info{};
    while (::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) stop = static_cast<int>(info.ssi_signo);
    return stop;
}

} // namespace

Loop::Loop(Parts parts) : parts_(std::move(parts)) {
    ::fcntl(parts_.listener, F_SETFL, ::fcntl(parts_.listener, F_GETFL) | O_NONBLOCK);
}

int Loop::run() {
    nextTick_ = Clock::now() + parts_.tick;
    try {
        return serve();
    } catch (const std::exception& error) {
        return fail(std::string("lumrad stops on an unexpected error: ") + error.what(), crashed);
    } catch (...) {
        return fail("lumrad stops on an unexpected error", crashed);
    }
}

int Loop::fail(const std::string& why, int status) {
    clients_.clear();
    try {
        parts_.engine.park();
        LumraKit::log(why + "; everything released, claims kept");
    } catch (const std::exception& error) {
        LumraKit::log(why + "; releasing failed too: " + error.what());
    }
    return status;
}

int Loop::serve() {
    for (;;) {
        auto now = Clock::now();
        if (now >= nextTick_) {
            parts_.engine.tick();
            if (onTick) onTick(now - nextTick_);
            nextTick_ = now + parts_.tick;
        }
        if (parts_.updates) parts_.updates->startIfDue(parts_.engine);
        parts_.announcer.reap();
        if (int status = wait(); status >= 0) return status;
    }
}

// Waits for the next thing to do and does it: -1 to go on, else the exit status.
int Loop::wait() {
    auto now = Clock::now();
    auto until = nextTick_;
    for (const auto& client : clients_) until = std::min(until, client.deadline());
    if (auto limit = parts_.announcer.nextDeadline()) until = std::min(until, *limit);

    // listener, signals, hook output, update answers, then the clients
    std::vector<pollfd> watched{
        {clients_.size() < clientLimit ? parts_.listener : -1, POLLIN, 0},
        {parts_.signals, POLLIN, 0},
        {parts_.announcer.outputFd(), POLLIN, 0},
        {parts_.updates ? parts_.updates->fd() : -1, POLLIN, 0},
    };
    constexpr size_t firstClient = 4;
    for (const auto& client : clients_) watched.push_back({client.fd(), client.events(), 0});

    auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    if (::poll(watched.data(), watched.size(), static_cast<int>(std::clamp<int64_t>(wait.count(), 0, INT32_MAX))) < 0) {
        if (errno == EINTR) return -1;
        return fail(std::string("lumrad stops: poll failed: ") + std::strerror(errno), pollFailed);
    }

    if (watched[1].revents != 0) {
        if (auto signal = termination(parts_.signals)) {
            clients_.clear();
            parts_.engine.park();
            LumraKit::log(std::string("lumrad stopped by ") + (*signal == SIGTERM ? "SIGTERM" : "SIGINT") +
                          ": everything released, claims kept");
            return stopped;
        }
    }
    if (watched[2].revents != 0) parts_.announcer.readOutput();
    if (watched[3].revents != 0) parts_.updates->finish(parts_.engine, parts_.announcer);

    now = Clock::now();
    for (size_t at = 0; at < clients_.size(); ++at) {
        auto& client = clients_[at];
        if (watched[firstClient + at].revents != 0 || now >= client.deadline()) client.advance(now, parts_.handle);
        if (parts_.handedBack()) return handBack(client);
    }
    std::erase_if(clients_, [](const LumraKit::Wire::Exchange& client) { return client.done(); });

    if (watched[0].revents != 0) {
        // Everyone waiting, as far as the limit allows. They are served on
        // the next pass, after those already here: serving them now would let
        // clients who connect meanwhile keep this loop accepting for ever,
        // with no ticks and the exchanges already open never served.
        while (clients_.size() < clientLimit) {
            auto accepted = LumraKit::Wire::Exchange::accept(parts_.listener, Clock::now());
            if (!accepted) break;
            clients_.push_back(std::move(*accepted));
        }
    }
    return -1;
}

// The engine is parked: the hand-back's reply goes out (unless its client is
// too slow to take it), and the loop ends.
int Loop::handBack(LumraKit::Wire::Exchange& client) {
    while (!client.done()) {
        pollfd out{client.fd(), client.events(), 0};
        ::poll(&out, 1, 100);
        client.advance(Clock::now(), parts_.handle);
    }
    clients_.clear();
    LumraKit::log("lumrad handed back: everything released, claims kept");
    return stopped;
}

} // namespace Lumrad
