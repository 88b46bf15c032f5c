// A claim's identifier from the platform's random source, beside the same
// sixteen bytes taken from std::random_device four bytes at a time (which
// costs a hardware instruction each, slow on some virtual machines).

#include <LumraKit/UUID.hpp>

#include <benchmark/benchmark.h>

#include <random>

namespace {

void NewUUID(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(LumraKit::UUID::random());
}
BENCHMARK(NewUUID);

void RandomDeviceUUID(benchmark::State& state) {
    std::random_device source;
    for (auto _ : state) {
        LumraKit::UUID::Bytes bytes{};
        for (size_t i = 0; i < bytes.size(); i += 4) {
            uint32_t word = source();
            for (size_t j = 0; j < 4; ++j) bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
        }
        benchmark::DoNotOptimize(LumraKit::UUID(bytes));
    }
}
BENCHMARK(RandomDeviceUUID);

} // namespace
