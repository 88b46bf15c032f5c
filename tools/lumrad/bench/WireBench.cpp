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
// items_per_second is requests per second from one client.

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

#include <atomic>
#include <map>
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

// Real time: most of the work happens in the server thread or process.
BENCHMARK(RawEcho)->UseRealTime();
BENCHMARK(StatusInProcess)->UseRealTime();
BENCHMARK(StatusLumrad)->UseRealTime();
BENCHMARK(StatusLumradLinux)->UseRealTime();

} // namespace
