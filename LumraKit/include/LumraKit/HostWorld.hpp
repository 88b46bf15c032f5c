#pragma once

#include <LumraKit/StoredWorld.hpp>

namespace LumraKit {

// The world of this machine as the simulated Mac: the power and kernel
// functions and the state stores, asked afresh on every call. Keeps no state
// beyond where its files live; the main thread alone calls it.
class HostWorld final : public StoredWorld {
public:
    // The running process's state files (Paths::current()).
    HostWorld();
    // The state files of `paths`, for a service that was told where they are.
    explicit HostWorld(const Paths& paths);

    PowerSnapshot power() override;
    bool thermalCritical() override;
    bool displayAsleep() override;
    bool sleepDisabled() override;
    LidResult setSleepDisabled(bool on) override;
    void sleepNow() override;
    uint32_t createAssertion(Mode mode) override;
    void releaseAssertion(uint32_t id) override;
    // Other processes' live assertions that hold something off (level above
    // zero), oldest first.
    std::optional<std::vector<OtherHolder>> otherHolders() override;
};

} // namespace LumraKit
