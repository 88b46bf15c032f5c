#pragma once

#include <LumraKit/StateMachine.hpp>
#include <TestSupport/FakeWorld.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace EngineTesting {

using namespace LumraKit;
using namespace std::chrono_literals;

// An engine on a fake world, with everything it reports recorded: the claims
// each `notify` named, `onChange` calls, forced sleeps and the log lines
// (without their time stamps). Start the engine with start() once the fake
// world is set up the way the test needs.
struct Harness {
    struct Ended {
        EndReason reason;
        std::vector<Claim> claims;
    };

    TestSupport::FakeWorld world;
    std::unique_ptr<StateMachine> engine;
    std::vector<Ended> ended;
    int changes = 0;
    std::vector<int> forcedSleeps;

    ~Harness() { stopCapture(); }

    StateMachine& start() {
        beginCapture();
        engine = std::make_unique<StateMachine>(world);
        engine->notify = [this](const EndReason& reason, const std::vector<Claim>& claims) {
            ended.push_back({reason, claims});
        };
        engine->onChange = [this] { ++changes; };
        engine->onForcedSleep = [this](int percent) { forcedSleeps.push_back(percent); };
        return *engine;
    }

    // The log lines written since the last call, time stamps cut off.
    std::vector<std::string> logLines() {
        std::string text = stopCapture();
        beginCapture();
        std::vector<std::string> lines;
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            std::string line = text.substr(start, end - start);
            size_t space = line.find(' ');
            lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }

    Claim userClaim(ModeSet modes, Term term = Term::indefinite()) const {
        return Claim(Claim::humanOwner, false, modes, term, world.clock);
    }
    Claim programClaim(std::string_view owner, ModeSet modes, Term term = Term::indefinite(),
                       bool forced = false) const {
        return Claim(owner, forced, modes, term, world.clock);
    }

    // Engages and insists that it worked.
    Engaged take(const Claim& claim) {
        auto result = engine->engage(claim);
        if (!result.ok()) ADD_FAILURE() << "engage refused: " << result.error();
        return result.ok() ? result.value() : Engaged{};
    }

private:
    // Standard error can be captured by one harness at a time; a second
    // harness in the same test records no lines.
    void beginCapture() {
        if (capturing_ || anyCapturing()) return;
        testing::internal::CaptureStderr();
        capturing_ = anyCapturing() = true;
    }
    std::string stopCapture() {
        if (!capturing_) return {};
        capturing_ = anyCapturing() = false;
        return testing::internal::GetCapturedStderr();
    }
    static bool& anyCapturing() {
        static bool capturing = false;
        return capturing;
    }
    bool capturing_ = false;
};

} // namespace EngineTesting
