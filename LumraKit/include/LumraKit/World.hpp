#pragma once

#include <LumraKit/Battery.hpp>
#include <LumraKit/Claim.hpp>
#include <LumraKit/Config.hpp>
#include <LumraKit/Kernel.hpp>
#include <LumraKit/Mode.hpp>
#include <LumraKit/NotificationStore.hpp>
#include <LumraKit/OtherHolder.hpp>

#include <Platform/Clock.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace LumraKit {

// Everything the state machine needs from the machine and the state files.
// The state machine touches nothing else, so a substitute world drives every
// one of its decisions without the real hardware. Called from the main thread
// only, one operation at a time; no operation throws.
class World {
public:
    virtual ~World() = default;

    // The current date and time.
    virtual Platform::Date now() = 0;
    // When the machine booted; claims started before it are stale.
    virtual Platform::Date bootTime() = 0;
    virtual PowerSnapshot power() = 0;
    // True only at the highest of the four heat levels.
    virtual bool thermalCritical() = 0;
    // Absent, or different from a claim's recorded start, means its process is gone.
    virtual std::optional<double> processStartTime(int32_t pid) = 0;
    virtual bool displayAsleep() = 0;
    // The system-wide sleep-disable flag, read fresh on each call.
    virtual bool sleepDisabled() = 0;
    // `ok` means the flag now has the requested value.
    virtual LidResult setSleepDisabled(bool on) = 0;
    // Asks the machine to sleep at once; a failure is only logged.
    virtual void sleepNow() = 0;
    // Only `idle` and `display` are ever passed.
    virtual uint32_t createAssertion(Mode mode) = 0;
    virtual void releaseAssertion(uint32_t id) = 0;
    virtual std::vector<Claim> loadClaims() = 0;
    // An empty list removes the file.
    virtual void saveClaims(const std::vector<Claim>& claims) = 0;
    // The moment of suspension, if it is still valid for this boot.
    virtual std::optional<Platform::Date> loadSuspended() = 0;
    // Absent removes the file.
    virtual void saveSuspended(std::optional<Platform::Date> date) = 0;
    // Never fails: defaults when missing or undecodable.
    virtual Config loadConfig() = 0;
    virtual void saveConfig(const Config& config) = 0;
    // What the notifier last recorded; not a live query.
    virtual std::optional<NotificationStore::Reach> notificationReach() = 0;

    // For the status only; the engine decides nothing by them, and a world
    // that cannot tell keeps these answers.
    // Others keeping the machine awake now; absent when the machine cannot tell.
    virtual std::optional<std::vector<OtherHolder>> otherHolders() { return std::nullopt; }
    // How a display hold is kept where the machine has more than one way
    // (Status::displayHold); absent where there is one.
    virtual std::optional<std::string> displayHold() { return std::nullopt; }
};

} // namespace LumraKit
