// The cost of one status round trip on the service's socket, three ways:
//   RawEcho: a bare AF_UNIX exchange of the same sizes (a 14-byte request
//            line, an answer line as long as a status reply), one connection
//            per exchange, as the wire does: the floor for any protocol;
//   StatusInProcess: Wire::roundTrip against Wire::acceptAndServe in this
//            process, the engine on the fake world;
//   StatusLumrad: the real lumrad over a fresh simulated machine, whose
//            status tick runs the pmset stand-in every time;
//   StatusLumradLinux: the real lumrad --host linux on a private bus with the
//            mock login manager, UPower and power profiles daemon, which
//            spawns no tool: a few bus calls and sysfs reads per status.
//   StatusLumradWithSlowClient: the same while another client sends a byte
//            every 1.5 s and never finishes its line;
//   TickLatenessWithSlowClient: lumrad's serving loop in this process (the
//            engine on the fake world, a tick every 100 ms) for 10 s with
//            such a slow client connected: how late the ticks ran
//            (max_late_ms; target: none later than 2 s past its time).
// items_per_second is requests per second from one client.

#include "Loop.hpp"

#include <LumraKit/StateMachine.hpp>
#include <LumraKit/Wire.hpp>
#include <Platform/Spawn.hpp>
#include <TestSupport/FakeWorld.hpp>
#include <TestSupport/LocalClient.hpp>
#include <TestSupport/PrivateBus.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/TempDir.hpp>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <map>
#include <poll.h>
#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using LumraKit::Command;
using LumraKit::Reply;
namespace Wire = LumraKit::Wire;

const std::string statusLine = LumraKit::JSONCoder::plain.encode(LumraKit::toJSON(Command::status()));

// A server thread on a socket of its own that stops when asked (a last
// connection wakes its accept).
class Server {
public:
    explicit Server(std::function<void(int listenFd)> serveOne) {
        listenFd_ = Wire::listen(socket());
        thread_ = std::thread([this, serveOne] {
            while (!stopping_) serveOne(listenFd_);
        });
    }
    ~Server() {
        stopping_ = true;
        TestSupport::LocalClient{socket()};
        thread_.join();
        ::close(listenFd_);
    }
    std::filesystem::path socket() const { return folder_ / "lumra.sock"; }

private:
    TestSupport::TempDir folder_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The line an idle engine's status reply is.
std::string idleReplyLine() {
    TestSupport::FakeWorld world;
    LumraKit::StateMachine engine(world);
    return LumraKit::JSONCoder::plain.encode(LumraKit::toJSON(Reply{true, std::nullopt, engine.status()}));
}

// Reads up to the line feed, whatever the chunks.
bool readRawLine(int fd, std::string& into) {
    into.clear();
    char buffer[4096];
    for (;;) {
        ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count < 1) return false;
        into.append(buffer, static_cast<size_t>(count));
        if (into.back() == '\n') return true;
    }
}

void RawEcho(benchmark::State& state) {
    const std::string answer = idleReplyLine() + "\n";
    Server server([&](int listenFd) {
        int client = ::accept(listenFd, nullptr, nullptr);
        std::string request;
        if (readRawLine(client, request)) ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(client);
    });
    const std::string request = statusLine + "\n";
    std::string reply;
    for (auto _ : state) {
        // With time-outs set, as the wire's client sets them.
        TestSupport::LocalClient client(server.socket(), 2);
        if (client.error() != 0) state.SkipWithError("connect");
        client.send(request);
        if (!readRawLine(client.fd(), reply)) state.SkipWithError("no answer");
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["reply_bytes"] = static_cast<double>(answer.size());
}

void StatusInProcess(benchmark::State& state) {
    TestSupport::RedirectedStandardError quiet{"/dev/null"};
    TestSupport::FakeWorld world;
    LumraKit::StateMachine engine(world); // used by the server thread only
    Server server([&](int listenFd) {
        Wire::acceptAndServe(listenFd, [&](const Command&) { return Reply{true, std::nullopt, engine.status()}; });
    });
    for (auto _ : state) {
        auto reply = Wire::roundTrip(Command::status(), server.socket());
        if (!reply) state.SkipWithError("no reply");
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}

// lumrad on a brand-new simulated machine in a folder of its own, stopped
// with SIGTERM at the end.
class Lumrad {
public:
    explicit Lumrad(std::vector<std::string> arguments = {}, const std::map<std::string, std::string>& extra = {}) {
        auto environment = Platform::currentEnvironment();
        environment["HOME"] = home_.path().string();
        environment["LUMRA_SIM_ROOT"] = (home_ / "sim").string();
        for (const auto& [name, value] : extra) environment[name] = value;
        arguments.insert(arguments.begin(), "--service-log");
        auto started = Platform::startProgram(LUMRAD_EXE, arguments, environment);
        if (auto* pid = std::get_if<pid_t>(&started)) pid_ = *pid;
        for (int attempt = 0; attempt < 500 && pid_ > 0 && !ready(); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~Lumrad() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool ready() const { return Wire::roundTrip(Command::status(), socket()).has_value(); }
    std::filesystem::path socket() const { return home_ / ".local/state/lumra/lumra.sock"; }

private:
    TestSupport::TempDir home_;
    pid_t pid_ = -1;
};

// A client that sends "{" and then a space every 1.5 s, never a whole line,
// connecting again whenever the server drops it, until it is destroyed.
class SlowClient {
public:
    explicit SlowClient(std::filesystem::path socket)
        : thread_([this, socket = std::move(socket)] {
              while (!stopping_) {
                  TestSupport::LocalClient client(socket);
                  client.send("{");
                  for (;;) {
                      pollfd dropped{client.fd(), POLLIN, 0};
                      if (stopping_ || ::poll(&dropped, 1, 1500) != 0) break; // stopping, or the server closed it
                      ++drips_;
                      client.send(" ");
                  }
                  ++dropped_;
              }
          }) {}
    ~SlowClient() {
        stopping_ = true;
        thread_.join();
    }
    int dropped() const { return dropped_; }

private:
    std::atomic<bool> stopping_{false};
    std::atomic<int> drips_{0};
    std::atomic<int> dropped_{0};
    std::thread thread_;
};

void statusRoundTrips(benchmark::State& state, const Lumrad& lumrad) {
    if (!lumrad.ready()) {
        state.SkipWithError("lumrad did not answer");
        return;
    }
    for (auto _ : state) {
        auto reply = Wire::roundTrip(Command::status(), lumrad.socket());
        if (!reply) state.SkipWithError("no reply");
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}

void StatusLumrad(benchmark::State& state) { statusRoundTrips(state, Lumrad()); }

void StatusLumradLinux(benchmark::State& state) {
    TestSupport::PrivateBus bus;
    bus.startMock("logind", "org.freedesktop.login1");
    bus.startMock("upower", "org.freedesktop.UPower");
    bus.startMock("power_profiles_daemon", "net.hadess.PowerProfiles");
    statusRoundTrips(state, Lumrad({"--host", "linux"}, bus.environment()));
}

void StatusLumradWithSlowClient(benchmark::State& state) {
    Lumrad lumrad;
    if (!lumrad.ready()) {
        state.SkipWithError("lumrad did not answer");
        return;
    }
    SlowClient slow(lumrad.socket());
    for (auto _ : state) {
        auto reply = Wire::roundTrip(Command::status(), lumrad.socket());
        if (!reply) state.SkipWithError("no reply");
        benchmark::DoNotOptimize(reply);
    }
    state.SetItemsProcessed(state.iterations());
}

void TickLatenessWithSlowClient(benchmark::State& state) {
    TestSupport::RedirectedStandardError quiet{"/dev/null"};
    for (auto _ : state) {
        TestSupport::TempDir folder;
        auto socket = folder / "lumra.sock";
        TestSupport::FakeWorld world;
        LumraKit::StateMachine engine(world);
        ::Lumrad::Announcer announcer(std::nullopt);
        bool handedBack = false;
        ::Lumrad::Loop loop({Wire::listen(socket), -1, std::chrono::milliseconds(100), engine,
                             [&](const Command& command) {
                                 handedBack = handedBack || command.kind() == Command::Kind::handBack;
                                 return Reply{true, std::nullopt, engine.status()};
                             },
                             [&] { return handedBack; }, announcer, nullptr});
        std::vector<double> lateMs;
        loop.onTick = [&](std::chrono::nanoseconds late) {
            lateMs.push_back(std::chrono::duration<double, std::milli>(late).count());
        };
        int dropped = 0;
        {
            SlowClient slow(socket);
            std::thread stopper([&] {
                std::this_thread::sleep_for(std::chrono::seconds(10));
                Wire::roundTrip(Command::handBack(), socket);
            });
            loop.run();
            stopper.join();
            dropped = slow.dropped();
        }
        double sum = 0;
        for (double late : lateMs) sum += late;
        state.counters["ticks"] = static_cast<double>(lateMs.size());
        state.counters["max_late_ms"] = lateMs.empty() ? 0 : *std::max_element(lateMs.begin(), lateMs.end());
        state.counters["mean_late_ms"] = lateMs.empty() ? 0 : sum / static_cast<double>(lateMs.size());
        state.counters["slow_client_dropped"] = dropped;
    }
}

// Real time: most of the work happens in the server thread or process.
BENCHMARK(RawEcho)->UseRealTime();
BENCHMARK(StatusInProcess)->UseRealTime();
BENCHMARK(StatusLumrad)->UseRealTime();
BENCHMARK(StatusLumradLinux)->UseRealTime();
BENCHMARK(StatusLumradWithSlowClient)->UseRealTime();
BENCHMARK(TickLatenessWithSlowClient)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
