#include "Identifiers.hpp"

#include "Log/Fatal.hpp"
#include "Log/Traceparent.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include <pthread.h>
#include <sys/random.h>

namespace Log {

namespace detail {

namespace {

// Every span takes two identifiers, so bytes are drawn from the kernel in
// blocks rather than one system call per identifier. A forked child must
// not hand out the bytes its parent still holds: the fork generation makes
// every thread's block stale in the child.
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
            fatalError("newID: the system random source failed");
        }
        filled += static_cast<std::size_t>(got);
    }
    block.used = 0;
    block.generation = forkGeneration.load(std::memory_order_relaxed);
}

void randomBytes(unsigned char* into, std::size_t count) {
    while (count > 0) {
        if (block.used == sizeof block.bytes || block.generation != forkGeneration.load(std::memory_order_relaxed))
            refill();
        std::size_t take = std::min(count, sizeof block.bytes - block.used);
        std::copy_n(block.bytes + block.used, take, into);
        block.used += take;
        into += take;
        count -= take;
    }
}

} // namespace

void fillID(char* hex, std::size_t bytes) {
    constexpr char digits[] = "0123456789abcdef";
    unsigned char small[32];
    for (;;) {
        bool zero = true;
        std::size_t done = 0;
        while (done < bytes) {
            std::size_t take = std::min(bytes - done, sizeof small);
            randomBytes(small, take);
            for (std::size_t i = 0; i < take; ++i) {
                zero &= small[i] == 0;
                hex[2 * (done + i)] = digits[small[i] >> 4];
                hex[2 * (done + i) + 1] = digits[small[i] & 0xF];
            }
            done += take;
        }
        if (!zero || bytes == 0) return;
    }
}

} // namespace detail

std::string newID(std::size_t bytes) {
    std::string hex(2 * bytes, '0');
    detail::fillID(hex.data(), bytes);
    return hex;
}

} // namespace Log
