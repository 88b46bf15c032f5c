#include "Platform/Random.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <sys/random.h>

namespace Platform {

namespace {

// The fork generation makes every thread's block stale in a forked child.
std::atomic<unsigned> forkGeneration{0};

[[maybe_unused]] const int forkWatch = [] {
    ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1, std::memory_order_relaxed); });
    return 0;
}();

struct RandomBlock {
    unsigned char bytes[1024];
    std::size_t used = sizeof bytes;
    unsigned generation = 0;
};

thread_local RandomBlock block;

void refill() {
    std::size_t filled = 0;
    while (filled < sizeof block.bytes) {
        ssize_t got = ::getrandom(block.bytes + filled, sizeof block.bytes - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "fatal error: the system random source failed: %s\n", std::strerror(errno));
            std::abort();
        }
        filled += static_cast<std::size_t>(got);
    }
    block.used = 0;
    block.generation = forkGeneration.load(std::memory_order_relaxed);
}

} // namespace

void randomBytes(void* into, std::size_t count) {
    auto* out = static_cast<unsigned char*>(into);
    while (count > 0) {
        if (block.used == sizeof block.bytes || block.generation != forkGeneration.load(std::memory_order_relaxed))
            refill();
        std::size_t take = std::min(count, sizeof block.bytes - block.used);
        std::memcpy(out, block.bytes + block.used, take);
        block.used += take;
        out += take;
        count -= take;
    }
}

} // namespace Platform
