// The serving loop on a fake world with a real listening socket: it keeps
// ticking on time while a client dawdles, and an exception from a handler
// parks the engine and ends the loop with a failure status.

#include "Loop.hpp"
#include "Service.hpp"
#include "ServiceHarness.hpp"

#include <TestSupport/FakeWorld.hpp>
#include <TestSupport/LocalClient.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <thread>

namespace {

using namespace LumraKit;
using namespace std::chrono_literals;
using testing::HasSubstr;

class LoopTest : public testing::Test {
protected:
    void TearDown() override { ::close(listener); }

    Lumrad::Loop loop(Wire::Handler handle, std::chrono::milliseconds tick = 1h) {
        return Lumrad::Loop({listener, -1, tick, engine, std::move(handle), [this] { return handedBack; }, announcer,
                             nullptr});
    }

    ServiceTesting::CapturedLog log;
    TestSupport::TempDir folder;
    int listener = Wire::listen(folder / "lumra.sock");
    TestSupport::FakeWorld world;
    ServiceTesting::FakeStarter starter;
    Lumrad::Announcer announcer{std::nullopt, starter.starter()};
    StateMachine engine{world};
    bool handedBack = false;
};

TEST_F(LoopTest, AnExceptionFromAHandlerParksTheEngineAndFails) {
    ASSERT_TRUE(engine.engage(Claim(Claim::humanOwner, false, {Mode::idle, Mode::lid}, Term::indefinite(), world.clock)).ok());
    ASSERT_TRUE(world.flag);
    TestSupport::LocalClient client(folder / "lumra.sock");
    client.send("{\"status\":{}}\n");

    int status = loop([](const Command&) -> Reply { throw std::runtime_error("the disk is on fire"); }).run();
    EXPECT_EQ(status, Lumrad::Loop::crashed);
    EXPECT_TRUE(engine.parked());
    EXPECT_FALSE(world.flag) << "sleep stays disabled";
    EXPECT_TRUE(world.assertions.empty());
    EXPECT_EQ(engine.claims().size(), 1u) << "the claims stay for the next start";
    EXPECT_THAT(log.text(), HasSubstr("Z lumrad stops on an unexpected error: the disk is on fire; everything "
                                      "released, claims kept\n"));
    EXPECT_EQ(client.readToEnd(), "") << "the client is let go without a reply";
}

// Ticks every 20 ms go on while one client has sent half a line and waits
// (its exchange still open), and the hand-back ends the loop with its reply
// delivered.
TEST_F(LoopTest, TicksGoOnWhileAClientDawdles) {
    TestSupport::LocalClient slow(folder / "lumra.sock");
    slow.send("{\"sta");
    int whileWaiting = 0;
    std::optional<Reply> handBack;
    std::thread handing;
    auto serving = loop(
        [&](const Command& command) {
            if (command.kind() == Command::Kind::handBack) handedBack = true;
            return Reply(true, std::nullopt, engine.snapshot());
        },
        20ms);
    serving.onTick = [&](std::chrono::nanoseconds) {
        pollfd open{slow.fd(), POLLIN, 0};
        if (::poll(&open, 1, 0) != 0 || ++whileWaiting != 10) return;
        // Enough ticks with the slow client waiting: hand back from another client.
        handing = std::thread([&, socket = folder / "lumra.sock"] { handBack = Wire::roundTrip(Command::handBack(), socket); });
    };
    EXPECT_EQ(serving.run(), Lumrad::Loop::stopped);
    if (handing.joinable()) handing.join();
    EXPECT_EQ(whileWaiting, 10);
    EXPECT_TRUE(handBack.has_value() && handBack->ok);
    EXPECT_THAT(log.text(), HasSubstr("Z lumrad handed back: everything released, claims kept\n"));
}

// A client accepted before its request arrived is served while others keep
// connecting: each request handled brings the next client, as under steady
// load, and the quiet client's hand-back still comes within a few requests.
TEST_F(LoopTest, ClientsConnectingMeanwhileStarveNoOne) {
    TestSupport::LocalClient quiet(folder / "lumra.sock");
    TestSupport::LocalClient first(folder / "lumra.sock");
    first.send("{\"status\":{}}\n");
    std::vector<std::unique_ptr<TestSupport::LocalClient>> arriving;
    int handled = 0;
    auto serving = loop([&](const Command& command) {
        ++handled;
        if (command.kind() == Command::Kind::handBack) {
            handedBack = true;
        } else {
            if (handled == 1) quiet.send("{\"handBack\":{}}\n");
            if (arriving.size() < 100) {
                arriving.push_back(std::make_unique<TestSupport::LocalClient>(folder / "lumra.sock"));
                arriving.back()->send("{\"status\":{}}\n");
            }
        }
        return Reply(true, std::nullopt, engine.snapshot());
    });
    EXPECT_EQ(serving.run(), Lumrad::Loop::stopped);
    EXPECT_LE(handled, 4) << "the hand-back waited behind " << handled - 1 << " later clients";
    EXPECT_THAT(quiet.readToEnd(), HasSubstr("\"ok\":true"));
}

} // namespace
