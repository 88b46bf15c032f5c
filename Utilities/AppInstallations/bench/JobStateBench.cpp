// Job::state(true) of a running launch agent, lumrad run by the
// simulated launchd from a copy of Lumra.app in /Applications: one
// `launchctl print` and one status round trip on lumrad's socket, beside a
// bare run of the launchctl stand-in. The machine is a temporary one, and
// its job is booted out at the end.
//   build/Utilities/AppInstallations/bench/job-state-bench

#include <AppInstallations/Job.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/Wire.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Launchd.hpp>
#include <Platform/SimulatedHost.hpp>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <thread>

namespace {

namespace fs = std::filesystem;
namespace BS = Platform::BackgroundServices;
using AppInstallation::Job;

const std::string plist = std::string(LumraKit::Identity::release) + ".lumrad.plist";
const std::string label = std::string(LumraKit::Identity::release) + ".lumrad";

struct Setting {
    fs::path root;
    std::unique_ptr<BS::Registry> registry;
    std::optional<Job> job;
    std::string target;
};

Setting& setting() {
    static Setting made;
    return made;
}

void probing(benchmark::State& state) {
    for (auto _ : state)
        if (!std::holds_alternative<Job::State::Running>(setting().job->state(true).value))
            state.SkipWithError("lumrad is not running");
}
BENCHMARK(probing)->UseRealTime();

void launchctlPrint(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(AppInstallation::run("/bin/launchctl", {"print", setting().target}));
}
BENCHMARK(launchctlPrint)->UseRealTime();

// A machine with lumrad registered, enabled and answering.
bool setUp(const fs::path& folder) {
    Setting& s = setting();
    fs::path home = folder / "home";
    s.root = folder / "machine";
    fs::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("LUMRA_SIM_ROOT", s.root.c_str(), 1);
    Platform::SimulatedHost::initialize(s.root);
    fs::path app = s.root / "Applications/Lumra.app";
    fs::create_directories(app.parent_path());
    fs::copy(LUMRA_APP, app, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    s.registry = BS::forApp(app, s.root);
    if (auto refused = s.registry->registerService({BS::Handle::Kind::agent, plist})) {
        std::cerr << "registering lumrad failed: " << refused->description << "\n";
        return false;
    }
    fs::path socket =
        LumraKit::Paths::derive(home, LumraKit::Identity::resolve(std::string(LumraKit::Identity::release))).socket;
    auto system = std::make_shared<AppInstallation::JobSystem>(*AppInstallation::JobSystem::live());
    system->registry = []() -> BS::Registry& { return *setting().registry; };
    system->bundle = [] { return std::optional<std::string>("/Applications/Lumra.app"); };
    system->home = [] {
        return AppInstallation::Home{AppInstallation::Home::Installed{AppInstallation::Scope::everyone}};
    };
    s.job.emplace(
        Job::Kind::agent(plist), "lumrad",
        [socket] { return LumraKit::Wire::roundTrip(LumraKit::Command::status(), socket).has_value(); },
        std::function<void()>{}, system);
    s.target = AppInstallation::launchdTarget(label, false, Platform::Credentials::currentUID());
    for (int i = 0; i < 200; ++i) {
        if (LumraKit::Wire::roundTrip(LumraKit::Command::status(), socket)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::cerr << "lumrad did not answer on " << socket << "\n";
    return false;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char pattern[] = "/tmp/job-state-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    fs::path folder = pattern;
    bool ready = setUp(folder);
    if (ready) benchmark::RunSpecifiedBenchmarks();
    Platform::Launchd::stopAll(setting().root);
    setting().job.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
