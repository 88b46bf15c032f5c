// Running a command-line tool through `run` against a bare posix_spawn and
// waitpid of the same child. The state machine runs pmset -g on every tick
// and every status request, so what `run` adds to the child's own cost (two
// pipes, polling both, the macOS path mapping, UTF-8 checks) should stay
// small: within 1.5 times the bare spawn.

#include <LumraKit/Run.hpp>

#include <Platform/SimulatedHost.hpp>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A fresh simulated machine for the whole run, chosen before anything asks
// for the root, never the person's own.
class Machine {
public:
    Machine() {
        std::string pattern = (std::filesystem::temp_directory_path() / "run-bench.XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
            ::setenv("LUMRA_SIM_ROOT", pattern.c_str(), 1);
        }
    }
    ~Machine() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }

private:
    std::filesystem::path path_;
};

const Machine machine;

// posix_spawn and waitpid, with both outputs thrown away: the least any
// caller can do to run the program.
int bareSpawn(const std::string& program, std::vector<std::string> argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    pid_t pid = 0;
    int status = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, pointers.data(), environ) == 0)
        ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

void runPmset(benchmark::State& state) {
    for (auto _ : state) {
        auto result = LumraKit::run("/usr/bin/pmset", {"-g"});
        if (result.status != 0) state.SkipWithError(result.err.c_str());
        benchmark::DoNotOptimize(result);
    }
}

void bareSpawnPmset(benchmark::State& state) {
    // The same program run resolves /usr/bin/pmset to, linked in by that first run.
    LumraKit::run("/usr/bin/pmset", {"-g"});
    std::string program = Platform::SimulatedHost::hostPath("/usr/bin/pmset").string();
    for (auto _ : state)
        if (bareSpawn(program, {"/usr/bin/pmset", "-g"}) != 0) state.SkipWithError("pmset did not run");
}

void runTrue(benchmark::State& state) {
    for (auto _ : state) {
        auto result = LumraKit::run("/bin/true", {});
        if (result.status != 0) state.SkipWithError(result.err.c_str());
        benchmark::DoNotOptimize(result);
    }
}

void bareSpawnTrue(benchmark::State& state) {
    for (auto _ : state)
        if (bareSpawn("/bin/true", {"/bin/true"}) != 0) state.SkipWithError("true did not run");
}

} // namespace

BENCHMARK(runPmset)->Name("run/pmset -g")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(bareSpawnPmset)->Name("bare spawn/pmset -g")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(runTrue)->Name("run/true")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(bareSpawnTrue)->Name("bare spawn/true")->UseRealTime()->Unit(benchmark::kMicrosecond);
