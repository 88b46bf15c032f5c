// One refresh of the privacy hub with all ten permissions known, on the
// simulated machine's privacy database: in process only, and with a fresh
// probe (a program answering answerProbeIfAsked started, its ten lines
// parsed).

#include <PermissionGrants/PrivacyHub.hpp>
#include <PermissionGrants/Readings.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <Platform/Person.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

namespace {

using namespace PermissionGrants;

const std::string program = PRIVACY_PROBE_PROGRAM;

struct Bench {
    TestSupport::TempDir root;
    bool laidOut = (Platform::SimulatedHost::initialize(root.path()), true);
    TestSupport::VirtualTime time;
    std::unique_ptr<Platform::Person> person = Platform::makeSimulatedPerson(root.path(), {std::nullopt, ::getpid()}, time);
    std::unique_ptr<Platform::Privacy::Services> services =
        Platform::Privacy::makeSimulatedServices(root.path(), program, {std::nullopt, ::getpid()}, *person, time);
    TestSupport::FakeWorkspace workspace;
    Readings readings;

    PrivacyHub::Dependencies dependencies(bool probe) {
        PrivacyHub::Dependencies use;
        use.services = services.get();
        use.queue = &time;
        use.main = &time;
        use.clock = &time;
        use.workspace = &workspace;
        use.readings = &readings;
        use.probes = [probe] { return probe; };
        use.probeLimit = std::chrono::seconds(5);
        use.executable = program;
        return use;
    }
};

void refresh(benchmark::State& state, bool probe) {
    // Log lines of the first readings go nowhere.
    ::setenv("LOG_LEVEL", "silent", 1);
    Bench bench;
    // The probe reads the same machine.
    ::setenv("LUMRA_SIM_ROOT", bench.root.path().c_str(), 1);
    PrivacyHub hub(bench.dependencies(probe));
    for (Privacy privacy : allPrivacies) hub.answer(privacy);
    for (auto _ : state) hub.readAll();
}

void BM_HubRefreshInProcess(benchmark::State& state) { refresh(state, false); }
void BM_HubRefreshWithProbe(benchmark::State& state) { refresh(state, true); }

BENCHMARK(BM_HubRefreshInProcess);
BENCHMARK(BM_HubRefreshWithProbe)->Unit(benchmark::kMillisecond);

} // namespace
