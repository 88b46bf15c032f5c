// Saving and loading the claims file with 1,000 claims, the largest list the
// engine is expected to hold: each engage or end saves the whole list, and
// start-up loads it once.

#include <LumraKit/ClaimStore.hpp>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace std::chrono_literals;

std::vector<LumraKit::Claim> claims(size_t count) {
    std::vector<LumraKit::Claim> list;
    Platform::Date start(1767225600s);
    for (size_t i = 0; i < count; ++i) {
        LumraKit::Term term = i % 3 == 0   ? LumraKit::Term::indefinite()
                              : i % 3 == 1 ? LumraKit::Term::until(start + std::chrono::hours(i))
                                           : LumraKit::Term::whilePid(static_cast<int32_t>(1000 + i), 1767225600.25);
        list.emplace_back("client-" + std::to_string(i), i % 2 == 0, LumraKit::ModeSet{LumraKit::Mode::idle}, term,
                          start + std::chrono::seconds(i), i % 5 == 0, i % 7 == 0 ? "notify me" : "");
    }
    return list;
}

class StateDir {
public:
    StateDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "store-bench.XXXXXX").string();
        path = ::mkdtemp(pattern.data()) ? pattern : std::filesystem::temp_directory_path().string();
    }
    ~StateDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::filesystem::path path;
};

void SaveClaims(benchmark::State& state) {
    StateDir dir;
    LumraKit::ClaimStore store(dir.path / "claims.json");
    auto list = claims(static_cast<size_t>(state.range(0)));
    for (auto _ : state) store.save(list);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(SaveClaims)->Arg(1000)->Unit(benchmark::kMillisecond);

void LoadClaims(benchmark::State& state) {
    StateDir dir;
    LumraKit::ClaimStore store(dir.path / "claims.json");
    store.save(claims(static_cast<size_t>(state.range(0))));
    for (auto _ : state) {
        auto loaded = store.load();
        if (loaded.size() != static_cast<size_t>(state.range(0))) state.SkipWithError("the list did not load whole");
        benchmark::DoNotOptimize(loaded);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(LoadClaims)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
