#pragma once

#include <LumraKit/Claim.hpp>
#include <LumraKit/Config.hpp>
#include <LumraKit/Kernel.hpp>
#include <LumraKit/Result.hpp>
#include <LumraKit/Status.hpp>
#include <LumraKit/World.hpp>

#include <Platform/Clock.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace LumraKit {

// What taking a claim did besides recording it.
struct Engaged {
    std::optional<Claim> replaced;  // the holder's earlier claim, now gone
    std::optional<Claim> coveredBy; // another holder's claim that already held all of it
    bool suspended = false;         // recorded, but nothing is held until resume

    friend bool operator==(const Engaged&, const Engaged&) = default;
};

// The engine. It owns the claim list and makes the machine follow it: one
// power assertion per held kind of sleep (idle, display) and the system-wide
// sleep-disable flag for lid. Every contact with the machine and the state
// files goes through the world.
//
// Confined to the main thread: every operation, every callback and every
// world call runs there, one at a time. World calls block while the power
// tools run.
class StateMachine {
public:
    // Loads the settings and the suspension, then takes over what the previous
    // engine left: live claims are re-armed, stale ones dropped, and a flag
    // left on with nothing to explain it is adopted. `world` must outlive the
    // engine.
    explicit StateMachine(World& world);

    StateMachine(const StateMachine&) = delete;
    StateMachine& operator=(const StateMachine&) = delete;

    // Callbacks, set by the owner; each is optional.
    std::function<void()> onChange;                                          // after a change clients should see
    std::function<void(const EndReason&, const std::vector<Claim>&)> notify; // claims ended, before the list changes
    std::function<void(int percent)> onForcedSleep;                          // just before forcing sleep

    const std::vector<Claim>& claims() const { return claims_; }
    const std::optional<Platform::Date>& suspendedSince() const { return suspendedSince_; }
    bool suspended() const { return suspendedSince_.has_value(); }
    bool parked() const { return parked_; }
    const Config& config() const { return config_; }
    World& world() const { return world_; }

    // Some claim holds lid now, and the engine is not suspended.
    bool lidArmed() const;
    // A program's lid request waits for the user, and nothing else holds lid.
    bool askPending() const;

    // MARK: Taking and ending claims

    // Takes `claim`, replacing the claim with the same key. Programs never
    // get lid without the user's approval: their lid turns into a request.
    // Refused at critical heat (when lid would be held), on a battery at or
    // below the floor, or when the flag cannot be switched; a refusal leaves
    // everything as it was.
    Result<Engaged, EngageError> engage(Claim claim);

    // Ends the claims with these IDs (those in the list), with one report
    // through `notify`.
    void end(const std::set<UUID>& ids, const EndReason& reason);
    void endAll(const EndReason& reason);

    // The user's answer to the lid requests of the claims with these IDs.
    // Succeeds with the claims that changed (in their new form).
    Result<std::vector<Claim>, EngageError> resolveLidWant(const std::set<UUID>& ids, bool granted);

    // MARK: Watching the machine

    // Re-examines the machine: the flag switched from outside, expired
    // claims, dead processes, heat, the battery floor and Low Power Mode, and
    // a dying battery with nothing claimed. Inert once parked.
    void tick();

    // Releases everything for good, keeping the claims on disk for the next
    // engine. Cannot be undone in this process.
    void park();

    // MARK: Suspension and settings

    void suspend();
    void resume();
    // Clamped to Config::floorRange; takes effect at once.
    void setFloor(int percent);
    // Trimmed of spaces; empty clears the hook.
    void setNotifyCommand(std::string_view command);
    // Whether the display is kept lit along with any other hold.
    void setMenuDisplay(bool on);
    void setUpdateCheck(bool on);
    // The last duration a client chose, in minutes.
    void rememberDuration(int minutes);
    // This installation's identifier: made once, then kept.
    std::string installID();

    // The daily update check is on and its time has come.
    bool updateCheckDue() const;
    // The owner's report of an update check: the newest published version
    // (absent when the check failed) and the running one. Answers the version
    // to announce, once per newer version.
    std::optional<std::string> recordUpdateCheck(const std::optional<std::string>& latest, std::string_view running);

    // MARK: Status

    // A tick, then the snapshot.
    Status status();
    // The engine and the machine as they are, changing nothing.
    Status snapshot() const;

    // MARK: Requests

    // While the returned scope lives, the engine reads the sleep-disable flag
    // from the machine at most once and takes that reading for every later
    // look (a flip of its own, done or failed, makes it read again). A client
    // request and the snapshot in its reply then run the power tool once
    // instead of two or three times. One scope at a time.
    class FlagReadingScope {
    public:
        explicit FlagReadingScope(const StateMachine& engine);
        ~FlagReadingScope();
        FlagReadingScope(const FlagReadingScope&) = delete;
        FlagReadingScope& operator=(const FlagReadingScope&) = delete;

    private:
        const StateMachine& engine_;
    };
    [[nodiscard]] FlagReadingScope readFlagOnce() const { return FlagReadingScope(*this); }

private:
    // The sleep-disable flag: from the world, or the reading of the current
    // FlagReadingScope.
    bool sleepDisabled() const;
    ModeSet wantedModes() const;
    LidResult apply();
    void holdAssertion(Mode mode, bool wanted);
    // Re-applies the remembered list after a failed flip and names the failure.
    EngageError rollBack(std::vector<Claim> previous, const LidResult& failure);
    void saveClaims();
    void changed();

    void recover();
    bool isLive(const Claim& claim);
    Claim adoptedClaim();
    void adopt();

    void thermalGuard();
    void sweepBelowFloor();
    void endExpired();
    void endDeadProcesses();
    void batteryGuard();

    World& world_;
    std::vector<Claim> claims_;
    std::optional<Platform::Date> suspendedSince_;
    bool parked_ = false;
    Config config_;
    std::map<Mode, uint32_t> held_;
    // Set while a FlagReadingScope lives; the reading once taken.
    mutable bool readingOnce_ = false;
    mutable std::optional<bool> flagReading_;
};

// Whether version `a` is newer than `b`, comparing dot-separated numbers
// position by position ("1.10" is newer than "1.9"; "2.0" is not newer than
// "2").
bool versionIsNewer(std::string_view a, std::string_view than);

} // namespace LumraKit
