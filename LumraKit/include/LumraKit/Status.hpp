#pragma once

#include <LumraKit/Battery.hpp>
#include <LumraKit/Claim.hpp>
#include <LumraKit/NotificationStore.hpp>
#include <LumraKit/OtherHolder.hpp>

#include <Platform/Clock.hpp>

#include <optional>
#include <string>
#include <vector>

namespace LumraKit {

// The engine as clients see it: what every reply on the socket carries. A
// plain value, read off the engine in one go.
struct Status {
    std::vector<Claim> claims; // oldest first
    bool sleepDisabled = false;
    PowerSnapshot power;
    int floor = 0;
    std::string notifyCommand;
    bool keepDisplay = false;
    bool lidArmed = false;
    bool askPending = false;
    bool thermalCritical = false;
    std::optional<NotificationStore::Reach> notifications;
    std::optional<Platform::Date> suspendedSince;
    bool updateCheck = false;
    std::optional<std::string> latestVersion;
    // Others keeping the machine awake; absent when the machine cannot tell
    // (and from services that predate the field).
    std::optional<std::vector<OtherHolder>> otherHolders;
    // How a display hold is kept where the machine has more than one way:
    // "screenSaver" (the session's screen saver inhibitor) or "idleInhibitor"
    // (covered by the idle inhibitor); absent where there is one way.
    std::optional<std::string> displayHold;
    // Where the serving program's update check reads the newest version;
    // absent when none is set, so no check is made.
    std::optional<std::string> updateFeed;

    friend bool operator==(const Status&, const Status&) = default;
};

} // namespace LumraKit
