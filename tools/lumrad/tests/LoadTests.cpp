// Eight clients at once, five hundred requests each, against the real
// lumrad: every request gets a reply that decodes or a clean refusal to
// connect, the service stays up, and its claims file agrees with its status.

#include "LumradProcess.hpp"

#include <array>
#include <atomic>

namespace {

using namespace LumradTesting;

enum class Outcome { replied, refused, broken };

// A refused connection is clean; a connection must end in one reply line.
Outcome exchange(const fs::path& socket, const Command& command) {
    auto answer = rawExchange(socket, JSONCoder::plain.encode(toJSON(command)) + "\n");
    if (answer.connectError != 0)
        return answer.connectError == ECONNREFUSED || answer.connectError == EAGAIN ? Outcome::refused : Outcome::broken;
    if (answer.bytes.empty() || answer.bytes.find('\n') != answer.bytes.size() - 1) return Outcome::broken;
    try {
        (void)replyFromJSON(nlohmann::json::parse(answer.bytes));
        return Outcome::replied;
    } catch (const std::exception&) {
        return Outcome::broken;
    }
}

TEST_F(LumradTest, EightClientsFiveHundredRequestsEach) {
    start();
    constexpr int clients = 8, requests = 500;
    std::array<std::atomic<int>, 3> outcomes{};
    std::vector<std::thread> threads;
    for (int client = 0; client < clients; ++client) {
        threads.emplace_back([&, client] {
            std::string owner = "client-" + std::to_string(client);
            for (int request = 0; request < requests; ++request) {
                Command command = request % 3 == 0   ? Command::status()
                                  : request % 3 == 1 ? Command::engage(claim(owner, {Mode::idle}))
                                                     : Command::end(owner);
                ++outcomes[static_cast<size_t>(exchange(socket(), command))];
            }
        });
    }
    for (auto& thread : threads) thread.join();

    EXPECT_EQ(outcomes[static_cast<size_t>(Outcome::broken)], 0);
    EXPECT_EQ(outcomes[static_cast<size_t>(Outcome::replied)] + outcomes[static_cast<size_t>(Outcome::refused)],
              clients * requests);
    EXPECT_GT(outcomes[static_cast<size_t>(Outcome::replied)], 0);
    EXPECT_TRUE(running());

    Reply last = sent(Command::status());
    auto stored = storedClaims();
    auto byStart = [](const Claim& a, const Claim& b) { return a.startedAt < b.startedAt; };
    std::stable_sort(stored.begin(), stored.end(), byStart);
    EXPECT_EQ(stored, last.status.claims);
}

} // namespace
