#pragma once

#include <LumraKit/ClaimStore.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/NotificationStore.hpp>
#include <LumraKit/SuspendStore.hpp>
#include <LumraKit/World.hpp>

namespace LumraKit {

// The world of this machine: the power and kernel functions and the state
// stores, asked afresh on every call. Keeps no state beyond where its files
// live; the main thread alone calls it.
class HostWorld final : public World {
public:
    // The running process's state files (Paths::current()).
    HostWorld();
    // The state files of `paths`, for a service that was told where they are.
    explicit HostWorld(const Paths& paths);

    Platform::Date now() override;
    Platform::Date bootTime() override;
    PowerSnapshot power() override;
    bool thermalCritical() override;
    std::optional<double> processStartTime(int32_t pid) override;
    bool displayAsleep() override;
    bool sleepDisabled() override;
    LidResult setSleepDisabled(bool on) override;
    void sleepNow() override;
    uint32_t createAssertion(Mode mode) override;
    void releaseAssertion(uint32_t id) override;
    std::vector<Claim> loadClaims() override;
    void saveClaims(const std::vector<Claim>& claims) override;
    std::optional<Platform::Date> loadSuspended() override;
    void saveSuspended(std::optional<Platform::Date> date) override;
    Config loadConfig() override;
    void saveConfig(const Config& config) override;
    std::optional<NotificationStore::Reach> notificationReach() override;

private:
    ClaimStore claims_;
    SuspendStore suspended_;
    std::filesystem::path configFile_;
    NotificationStore notifications_;
};

} // namespace LumraKit
