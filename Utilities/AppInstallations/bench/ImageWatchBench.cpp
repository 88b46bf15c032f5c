// One tick of the image watch when nothing changed (a stat of the image and
// a comparison), beside a bare stat of the same file: what watching costs a
// process that runs all day. At one tick every 2 seconds an hour holds 1,800
// ticks, so the CPU time per hour is 1,800 times the CPU time per tick
// (shown as the "cpu_per_hour" counter).
//   build/Utilities/AppInstallations/bench/image-watch-bench

#include <AppInstallations/ImageWatch.hpp>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double ticksPerHour = 3600.0 / 2.0;

// A file to watch, removed at the end.
class Image {
public:
    Image() {
        int fd = ::mkstemp(path_.data());
        if (fd >= 0) ::close(fd);
    }
    ~Image() { ::unlink(path_.c_str()); }
    const std::string& path() const { return path_; }
    uint64_t inode() const {
        struct stat status {};
        ::stat(path_.c_str(), &status);
        return static_cast<uint64_t>(status.st_ino);
    }

private:
    std::string path_ = "/tmp/image-watch-bench.XXXXXX";
};

void perHour(benchmark::State& state) {
    // The CPU time of one iteration, scaled to an hour's ticks, in
    // seconds. An iteration-invariant rate is value x iterations / CPU
    // time; inverted, CPU time / (value x iterations).
    state.counters["cpu_per_hour"] = benchmark::Counter(
        1 / ticksPerHour, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void bareStat(benchmark::State& state) {
    Image image;
    for (auto _ : state) {
        struct stat status {};
        benchmark::DoNotOptimize(::stat(image.path().c_str(), &status));
    }
    perHour(state);
}
BENCHMARK(bareStat);

void tickWithoutChange(benchmark::State& state) {
    Image image;
    AppInstallation::Watched watched;
    watched.path = image.path();
    watched.inode = image.inode();
    watched.bundle = "/tmp/Bench.app";
    auto watch = std::make_shared<AppInstallation::ImageWatch>(watched, AppInstallation::WatchSystem::live());
    for (auto _ : state) watch->tick();
    if (watch->gone() != 0) state.SkipWithError("the image went missing");
    perHour(state);
}
BENCHMARK(tickWithoutChange);

} // namespace

BENCHMARK_MAIN();
