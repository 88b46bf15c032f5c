#pragma once

#include <LumraKit/StoredWorld.hpp>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace LumraKit {

namespace Linux {
class Bus;
}

// The world of a real Linux machine, over its message buses: idle and display
// holds are inhibitor locks of the login manager (display through the
// session's screen saver when it offers one), lid is a "sleep:handle-lid-
// switch" block lock held by this process, the battery is UPower's display
// device, Low Power Mode the power-saver profile, critical heat the kernel's
// thermal zones, and forced sleep the login manager's Suspend. Locks are
// bound to descriptors, so a service that dies releases them with it.
//
// A facility that is missing (no bus, no UPower, no profiles daemon) answers
// what the engine takes as safe (no battery, on AC; Low Power Mode off; no
// hold) and is logged once. Main thread only; every call may wait up to 2 s
// for a bus.
class LinuxWorld final : public StoredWorld {
public:
    // Where the machine's facilities are; tests point them at their own.
    struct Facilities {
        std::string systemBus;  // empty: the system bus
        std::string sessionBus; // empty: the user's session bus
        std::filesystem::path thermalZones = "/sys/class/thermal";
    };

    LinuxWorld(const Paths& paths, Facilities facilities);
    ~LinuxWorld() override;
    LinuxWorld(const LinuxWorld&) = delete;
    LinuxWorld& operator=(const LinuxWorld&) = delete;

    PowerSnapshot power() override;
    // A thermal zone at or past its "hot" or "critical" trip point.
    bool thermalCritical() override;
    // The session's screen saver is active; without one the display counts
    // as lit, so the forced-sleep sweep stays out of a person's way.
    bool displayAsleep() override;
    // Whether this world holds its lid lock and the login manager still lists
    // it; a lock that vanished (the login manager restarted) is let go and
    // reads as switched off from outside.
    bool sleepDisabled() override;
    // Takes or lets go of the lid lock; a refusal names what is missing.
    LidResult setSleepDisabled(bool on) override;
    void sleepNow() override;
    uint32_t createAssertion(Mode mode) override;
    void releaseAssertion(uint32_t id) override;
    // The login manager's other block locks on idle, sleep or the lid switch.
    std::optional<std::vector<OtherHolder>> otherHolders() override;
    // "screenSaver" or "idleInhibitor": how the display is held now, or would
    // be held were it asked now.
    std::optional<std::string> displayHold() override;

    // The texts this world gives the login manager with its locks.
    static constexpr const char* who = "lumra";
    static constexpr const char* idleWhy = "Claims keep the machine awake";
    static constexpr const char* displayWhy = "Claims keep the display lit";
    static constexpr const char* lidWhy = "Claims keep the machine awake with the lid closed";
    static constexpr const char* lidWhat = "sleep:handle-lid-switch";

private:
    // One hold: a login manager lock (its descriptor) or a screen saver cookie.
    struct Hold {
        std::string what;
        std::string why;
        int fd = -1;
        std::optional<uint32_t> cookie;
    };
    struct Listed;

    std::optional<int> inhibit(const std::string& what, const std::string& why, std::string* refusal);
    std::optional<uint32_t> screenSaverInhibit();
    // The login manager's list; absent, with `gone` set when it is not there.
    std::optional<std::vector<Listed>> listInhibitors(bool* gone);
    // Re-takes idle locks that vanished from `listed`; false when the lid lock did.
    bool keepHolds(const std::vector<Listed>& listed);
    void warnOnce(const std::string& key, const std::string& message);

    std::unique_ptr<Linux::Bus> system_;
    std::unique_ptr<Linux::Bus> session_;
    std::filesystem::path thermalZones_;
    std::map<uint32_t, Hold> holds_;
    uint32_t nextID_ = 1;
    int lidFd_ = -1;
    std::set<std::string> warned_;
};

} // namespace LumraKit
