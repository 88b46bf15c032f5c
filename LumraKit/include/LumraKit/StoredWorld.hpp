#pragma once

#include <LumraKit/ClaimStore.hpp>
#include <LumraKit/Identity.hpp>
#include <LumraKit/NotificationStore.hpp>
#include <LumraKit/SuspendStore.hpp>
#include <LumraKit/World.hpp>

namespace LumraKit {

// What every world on a real machine shares: the clock, the boot time and
// process start times from the kernel, and the state files of `paths`, asked
// afresh on every call. The power operations are the machine's own and are
// left to each host's world. Main thread only.
class StoredWorld : public World {
public:
    explicit StoredWorld(const Paths& paths);

    Platform::Date now() override;
    Platform::Date bootTime() override;
    std::optional<double> processStartTime(int32_t pid) override;
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
