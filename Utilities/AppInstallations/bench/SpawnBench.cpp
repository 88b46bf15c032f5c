// spawn of /bin/true beside a bare posix_spawn and waitpid of the same
// program: what the installation layer's tool runs cost over the system's
// own call. Target: at most 1.2 times the bare call.
//   build/Utilities/AppInstallations/bench/appinstallations-bench

#include <AppInstallations/System.hpp>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

void bareSpawn(benchmark::State& state) {
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) state.SkipWithError("no spawn");
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}
BENCHMARK(bareSpawn)->UseRealTime();

void spawnTrue(benchmark::State& state) {
    for (auto _ : state) {
        auto spawned = AppInstallation::spawn("/bin/true", {});
        benchmark::DoNotOptimize(spawned);
    }
}
BENCHMARK(spawnTrue)->UseRealTime();

} // namespace
