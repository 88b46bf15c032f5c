// A cached standing read from many threads at once: the lookup every view
// and observer makes. Reports allocations per lookup beside the time.

#include <PermissionGrants/Readings.hpp>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> allocations{0};
} // namespace

// These replace the global pair, so malloc and free do match here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop

namespace {

using PermissionGrants::Readings;
using PermissionGrants::Standing;

Readings& warmReadings() {
    static Readings* readings = [] {
        auto* made = new Readings();
        for (const char* key : {"notifications", "automation app.example.mail", "job agent", "job daemon"})
            made->read(key, [] {
                return Standing::broken("Open System Settings\u2026",
                                        "Notifications are off in System Settings. macOS never asks twice.");
            });
        return made;
    }();
    return *readings;
}

void cachedLookup(benchmark::State& state) {
    Readings& readings = warmReadings();
    Readings::Reader reader = [] { return Standing::good(); };
    uint64_t before = allocations.load();
    for (auto _ : state) benchmark::DoNotOptimize(readings.read("notifications", reader));
    if (state.thread_index() == 0)
        state.counters["allocs/lookup"] =
            benchmark::Counter(static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(cachedLookup)->Threads(1)->Threads(8)->UseRealTime();

} // namespace
