// One refresh of the privacy hub with all ten permissions known: in process
// only, and with a fresh probe (a process started, its ten lines parsed).
// The probe stands in with a shell script printing the ten lines, so the
// figure is the hub's part: spawning, waiting, parsing, comparing.

#include <PermissionGrants/PrivacyHub.hpp>
#include <PermissionGrants/Readings.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/FakePrivacyServices.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <benchmark/benchmark.h>

#include <fstream>
#include <sys/stat.h>

namespace {

using namespace PermissionGrants;

struct Bench {
    TestSupport::VirtualTime time;
    TestSupport::FakePrivacyServices services{time};
    TestSupport::FakeWorkspace workspace;
    Readings readings;
    TestSupport::TempDir folder;

    PrivacyHub::Dependencies dependencies(bool probe) {
        PrivacyHub::Dependencies use;
        use.services = &services;
        use.queue = &time;
        use.main = &time;
        use.clock = &time;
        use.workspace = &workspace;
        use.readings = &readings;
        use.probes = [probe] { return probe; };
        use.probeLimit = std::chrono::seconds(5);
        if (probe) {
            auto script = folder / "probe";
            std::ofstream out(script);
            out << "#!/bin/sh\nprintf '";
            for (Privacy privacy : allPrivacies) out << serviceName(privacy) << " 0\\n";
            out << "'\n";
            out.close();
            ::chmod(script.c_str(), 0755);
            use.executable = script;
        }
        return use;
    }
};

void refresh(benchmark::State& state, bool probe) {
    // Log lines of the first readings go nowhere.
    ::setenv("LOG_LEVEL", "silent", 1);
    Bench bench;
    PrivacyHub hub(bench.dependencies(probe));
    for (Privacy privacy : allPrivacies) hub.answer(privacy);
    for (auto _ : state) hub.readAll();
}

void BM_HubRefreshInProcess(benchmark::State& state) { refresh(state, false); }
void BM_HubRefreshWithProbe(benchmark::State& state) { refresh(state, true); }

BENCHMARK(BM_HubRefreshInProcess);
BENCHMARK(BM_HubRefreshWithProbe)->Unit(benchmark::kMillisecond);

} // namespace
