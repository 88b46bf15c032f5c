#include <Platform/Random.hpp>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string drawn(std::size_t count) {
    std::string bytes(count, '\0');
    Platform::randomBytes(bytes.data(), count);
    return bytes;
}

// Draws of every size, across the per-thread blocks and on other threads,
// never repeat; a draw far larger than a block is filled to its end.
TEST(RandomBytes, DrawsNeverRepeatAndFillWhatIsAsked) {
    std::set<std::string> seen;
    for (std::size_t count : {7u, 16u, 100u, 1023u, 1025u})
        for (int i = 0; i < 50; ++i) EXPECT_TRUE(seen.insert(drawn(count)).second);
    std::string large = drawn(10000);
    EXPECT_NE(large.substr(9984), std::string(16, '\0'));
    std::vector<std::string> others(4);
    std::vector<std::thread> threads;
    for (auto& other : others) threads.emplace_back([&other] { other = drawn(16); });
    for (auto& thread : threads) thread.join();
    for (const auto& other : others) EXPECT_TRUE(seen.insert(other).second);
}

// A forked child must not repeat the bytes its parent draws next.
TEST(RandomBytes, AForkedChildDrawsItsOwnBytes) {
    (void)drawn(16); // the parent now holds a block of random bytes
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    pid_t child = ::fork();
    if (child == 0) {
        std::string bytes = drawn(16);
        [[maybe_unused]] auto written = ::write(pipe[1], bytes.data(), bytes.size());
        std::_Exit(0);
    }
    ::close(pipe[1]);
    std::array<char, 16> fromChild{};
    ASSERT_EQ(::read(pipe[0], fromChild.data(), fromChild.size()), 16);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NE(std::string(fromChild.data(), fromChild.size()), drawn(16));
}

} // namespace
