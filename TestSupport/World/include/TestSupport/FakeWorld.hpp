#pragma once

#include <LumraKit/World.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <vector>

namespace TestSupport {

// A world in memory for driving the engine: every reading is a field a test
// sets, every state file a value, and the machine's answers can be made to
// fail. It also counts what the engine asked of it, so a test can check that
// nothing was touched. Not thread-safe, like the engine's own main thread.
class FakeWorld final : public LumraKit::World {
public:
    using Reach = LumraKit::NotificationStore::Reach;

    // The machine. The clock starts at 2026-01-01T00:00:00Z, booted an hour
    // before; a desktop on AC power at 100 percent, cool, display awake, flag off.
    Platform::Date clock = Platform::Date(std::chrono::seconds(1767225600));
    Platform::Date boot = clock - std::chrono::hours(1);
    LumraKit::PowerSnapshot battery;
    bool critical = false;
    bool displayDark = false;
    bool flag = false;
    // Running processes: ID to start time (seconds since 1970).
    std::map<int32_t, double> processes;
    // Live assertions: ID to the mode each was made for.
    std::map<uint32_t, LumraKit::Mode> assertions;

    // Failures to answer with. When `flipFailure` is set, every flag flip
    // returns it and leaves the flag alone; with `refuseAssertions` every
    // assertion request gets the null ID 0.
    std::optional<LumraKit::LidResult> flipFailure;
    bool refuseAssertions = false;

    // The state files.
    std::vector<LumraKit::Claim> storedClaims;
    std::optional<Platform::Date> storedSuspended;
    LumraKit::Config storedConfig;
    std::optional<Reach> storedReach;

    // What the engine asked for.
    int flagReads = 0;
    int sleepRequests = 0;
    int claimSaves = 0;
    int suspendSaves = 0;
    int configSaves = 0;
    std::vector<bool> flips; // every flip requested, successful or not
    int unknownReleases = 0; // releases of IDs that were not live

    // Moves the clock on.
    void advance(Platform::Duration duration) { clock += duration; }
    // Discharging on battery at `percent`.
    void dischargingAt(int percent);
    // The live assertions made for `mode`.
    int assertionsFor(LumraKit::Mode mode) const;

    Platform::Date now() override { return clock; }
    Platform::Date bootTime() override { return boot; }
    LumraKit::PowerSnapshot power() override { return battery; }
    bool thermalCritical() override { return critical; }
    std::optional<double> processStartTime(int32_t pid) override;
    bool displayAsleep() override { return displayDark; }
    bool sleepDisabled() override {
        ++flagReads;
        return flag;
    }
    LumraKit::LidResult setSleepDisabled(bool on) override;
    void sleepNow() override { ++sleepRequests; }
    uint32_t createAssertion(LumraKit::Mode mode) override;
    void releaseAssertion(uint32_t id) override;
    std::vector<LumraKit::Claim> loadClaims() override { return storedClaims; }
    void saveClaims(const std::vector<LumraKit::Claim>& claims) override;
    // Like the host's store, a suspension from before the boot is cleared.
    std::optional<Platform::Date> loadSuspended() override;
    void saveSuspended(std::optional<Platform::Date> date) override;
    LumraKit::Config loadConfig() override { return storedConfig; }
    void saveConfig(const LumraKit::Config& config) override;
    std::optional<Reach> notificationReach() override { return storedReach; }

private:
    uint32_t nextAssertionID_ = 1;
};

} // namespace TestSupport
