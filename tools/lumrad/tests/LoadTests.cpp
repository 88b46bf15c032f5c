// Eight clients at once, five hundred requests each, against the real
// lumrad: every request gets a reply that decodes or a clean refusal to
// connect, the service stays up, and its claims file agrees with its status.

#include "LumradProcess.hpp"

#include <atomic>
#include <mutex>

namespace {

using namespace LumradTesting;

// A loaded shared machine may keep a queued client waiting for seconds; the
// test is about what the service says, not how soon, so a client waits long.
constexpr int patientSeconds = 30;

// Empty when the exchange went well (a decodable reply or a clean refusal),
// else what went wrong.
std::optional<std::string> fault(const fs::path& socket, const Command& command, std::atomic<int>& replies) {
    auto started = std::chrono::steady_clock::now();
    auto answer = rawExchange(socket, JSONCoder::plain.encode(toJSON(command)) + "\n", patientSeconds);
    auto waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    auto described = [&](const std::string& what) {
        return what + " after " + std::to_string(waited) + " s: " + nlohmann::json(answer.bytes).dump();
    };
    if (answer.connectError == ECONNREFUSED || answer.connectError == EAGAIN) return std::nullopt;
    if (answer.connectError != 0) return described(std::string("connect failed, ") + std::strerror(answer.connectError));
    if (answer.bytes.empty()) return described("closed without a reply");
    if (answer.bytes.find('\n') != answer.bytes.size() - 1) return described("not one line");
    try {
        (void)replyFromJSON(nlohmann::json::parse(answer.bytes));
    } catch (const std::exception& error) {
        return described(std::string("undecodable reply (") + error.what() + ")");
    }
    ++replies;
    return std::nullopt;
}

TEST_F(LumradTest, EightClientsFiveHundredRequestsEach) {
    start();
    constexpr int clients = 8, requests = 500;
    std::atomic<int> replies = 0;
    std::mutex faultsLock;
    std::vector<std::string> faults;
    std::vector<std::thread> threads;
    for (int client = 0; client < clients; ++client) {
        threads.emplace_back([&, client] {
            std::string owner = "client-" + std::to_string(client);
            for (int request = 0; request < requests; ++request) {
                Command command = request % 3 == 0   ? Command::status()
                                  : request % 3 == 1 ? Command::engage(claim(owner, {Mode::idle}))
                                                     : Command::end(owner);
                if (auto what = fault(socket(), command, replies)) {
                    std::lock_guard hold(faultsLock);
                    faults.push_back(owner + " request " + std::to_string(request) + ": " + *what);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();

    std::string told;
    for (const auto& each : faults) told += each + "\n";
    EXPECT_TRUE(faults.empty()) << told << "the service's log:\n" << serviceLog();
    EXPECT_GT(replies, 0);
    EXPECT_TRUE(running());

    Reply last = sent(Command::status());
    auto stored = storedClaims();
    auto byStart = [](const Claim& a, const Claim& b) { return a.startedAt < b.startedAt; };
    std::stable_sort(stored.begin(), stored.end(), byStart);
    EXPECT_EQ(stored, last.status.claims);
}

} // namespace
