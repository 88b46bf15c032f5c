// Median wall time of `lumra-notifier --probe` beside /bin/true, measured
// alternately in one run so both see the same machine load.
//   notifier-probe-bench [runs]   (default 50, at least 30)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Spawns the program with its output on /dev/null and waits for it.
double timedRun(const std::vector<std::string>& argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", args[0]);
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not exit 0\n", args[0]);
        std::exit(1);
    }
    return elapsed;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(30, std::atoi(argv[1])) : 50;

    char folder[] = "/tmp/lumra-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::string home = std::string(folder) + "/home";
    std::string sim = std::string(folder) + "/sim";
    std::filesystem::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    setenv("LUMRA_SIM_ROOT", sim.c_str(), 1);

    const std::vector<std::string> probe{LUMRA_NOTIFIER_EXE, "--probe"};
    const std::vector<std::string> trueCommand{"/bin/true"};
    timedRun(probe); // the first run lays out the simulated host
    std::vector<double> probeTimes, trueTimes;
    for (int i = 0; i < runs; ++i) {
        probeTimes.push_back(timedRun(probe));
        trueTimes.push_back(timedRun(trueCommand));
    }
    std::filesystem::remove_all(folder);

    double probeMedian = median(probeTimes);
    double trueMedian = median(trueTimes);
    double ratio = probeMedian / trueMedian;
    std::printf("%-28s %10s\n", "command", "median ms");
    std::printf("%-28s %10.3f\n", "lumra-notifier --probe", probeMedian);
    std::printf("%-28s %10.3f\n", "/bin/true", trueMedian);
    std::printf("runs: %d each; ratio %.2fx (target: at most 5 ms and at most 4x /bin/true): %s\n", runs, ratio,
                probeMedian <= 5.0 && ratio <= 4.0 ? "met" : "NOT met");
    return 0;
}
