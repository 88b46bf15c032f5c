#pragma once

#include "AppInstallations/AppInstallation.hpp"
#include "AppInstallations/System.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/BackgroundServices.hpp>
#include <Platform/Clock.hpp>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

// The background jobs an app ships in its bundle (launch agents, launch
// daemons and the app itself as login item): which ones a bundle declares,
// their present state from the background-service registry, launchd and the
// app's own probe, every text shown about them, and turning them on and off.
// Paths are macOS paths.
namespace AppInstallation {

// What jobs talk to: the registry, time, the tools they run and where the
// app lives. The live one is the running app's; tests hand in fakes.
struct JobSystem {
    std::function<Platform::BackgroundServices::Registry&()> registry;
    // A monotonic clock and a sleeper that agree on how time passes.
    Platform::Clock* clock = nullptr;
    Platform::Sleeper* sleeper = nullptr;
    // Runs a tool as run() of System.hpp does.
    std::function<ToolResult(const std::string&, const std::vector<std::string>&)> run;
    std::function<std::optional<std::string>()> bundle;
    std::function<Home()> home;
    std::function<bool()> userIsAdmin;
    std::function<uint32_t()> uid;
    // The user's home folder, for the user's own launch agents.
    std::function<std::string()> homeFolder;

    // The running app's: the registry of its main bundle, a monotonic
    // clock and a sleeper running at the simulated host's time rate, run(),
    // bundle(), home(), the simulated directory and the process's user.
    static std::shared_ptr<const JobSystem> live();
};

class Job {
public:
    class Kind {
    public:
        enum class Case { agent, daemon, loginItem };
        static Kind agent(std::string plist) { return Kind(Case::agent, std::move(plist)); }
        static Kind daemon(std::string plist) { return Kind(Case::daemon, std::move(plist)); }
        static Kind loginItem() { return Kind(Case::loginItem, ""); }

        Case which() const { return case_; }
        // The definition's file name; empty for the login item.
        const std::string& plist() const { return plist_; }
        bool operator==(const Kind&) const = default;

    private:
        Kind(Case which, std::string plist) : case_(which), plist_(std::move(plist)) {}
        Case case_;
        std::string plist_;
    };

    struct State {
        struct AwaitingApproval {
            bool needsAdmin = false;
            bool operator==(const AwaitingApproval&) const = default;
        };
        struct Misplaced {
            Home home;
            bool operator==(const Misplaced&) const = default;
        };
        struct Bare {
            std::string missing;
            bool operator==(const Bare&) const = default;
        };
        struct Running {
            bool operator==(const Running&) const = default;
        };
        struct Off {
            bool operator==(const Off&) const = default;
        };
        struct Silent {
            bool operator==(const Silent&) const = default;
        };
        std::variant<AwaitingApproval, Misplaced, Bare, Running, Off, Silent> value;
        bool operator==(const State&) const = default;
    };

    // Why an install or uninstall failed; what() is its description.
    class Failure : public std::exception {
    public:
        struct Misplaced {
            Home home;
            std::string needs;
            bool operator==(const Misplaced&) const = default;
        };
        struct Bare {
            std::string missing;
            bool operator==(const Bare&) const = default;
        };
        struct Register {
            std::string text;
            bool operator==(const Register&) const = default;
        };
        struct AwaitingApproval {
            bool needsAdmin = false;
            bool operator==(const AwaitingApproval&) const = default;
        };
        struct SwitchedOff {
            bool operator==(const SwitchedOff&) const = default;
        };
        struct Silent {
            bool operator==(const Silent&) const = default;
        };
        using Reason = std::variant<Misplaced, Bare, Register, AwaitingApproval, SwitchedOff, Silent>;

        // A switched-off job's description ends in approvalSteer().
        explicit Failure(Reason reason);
        Failure(Reason reason, std::string description);
        const Reason& reason() const { return reason_; }
        const char* what() const noexcept override { return description_.c_str(); }
        bool operator==(const Failure& other) const { return reason_ == other.reason_; }

    private:
        Reason reason_;
        std::string description_;
    };

    Job(Kind kind, std::string name, std::function<bool()> answers = {}, std::function<void()> handBack = {},
        std::shared_ptr<const JobSystem> system = nullptr);

    // The app itself as login item: "the login item", no probe, no hand-back.
    static Job loginItem(std::shared_ptr<const JobSystem> system = nullptr);

    const Kind& kind() const { return kind_; }
    const std::string& name() const { return name_; }
    const std::function<bool()>& answers() const { return answers_; }
    const std::function<void()>& handBack() const { return handBack_; }

    // The plist name for an agent or a daemon, "login-item" for the login item.
    std::string switchValue() const;
    // "Contents/Library/LaunchAgents/<plist>" or "…/LaunchDaemons/<plist>";
    // none for the login item or a plist name that is no plain file name.
    std::optional<std::string> plistPath() const;
    // The definition's "Label"; none without a bundle or definition, or when
    // the label could not name a file (empty, with "/", or a leading ".").
    std::optional<std::string> label() const;
    std::set<Scope> scopes() const;
    std::string needs() const;

    State state(bool probing = true) const;
    std::string words() const;
    // The words of a state this job was found in, without asking again.
    std::string words(const State& now) const;
    // Whether launchd holds this job for another copy of the app.
    bool registeredElsewhere() const;
    // Whether launchd holds this job at all, running or not.
    bool heldByLaunchd() const;
    // The registry's status number for the job (BackgroundServices.hpp).
    int32_t registryStatus() const { return registry().status(handle()); }
    // A probe: true while launchd says the job's process runs.
    std::function<bool()> launchdRuns() const;

    // A probe: true while launchd has the agent `label` loaded for this user.
    static std::function<bool()> loaded(const std::string& label);
    // The agents, then the daemons, a bundle ships, in name order, each the
    // app's own description of it from `own` when there is one; the others
    // talk to `system` (the live one when none).
    static std::vector<Job> declared(const std::string& bundle, const std::vector<Job>& own,
                                     std::shared_ptr<const JobSystem> system = nullptr);

    // At a launch of the app from `in`: decides job by job, from the
    // installation switches in `arguments` and the tombstone, whether to turn
    // a job on, register it afresh for this copy, clear a deleted install's
    // record or leave it alone. Blocks until every install has ended.
    static void settle(const std::string& in, const std::vector<Job>& own, const std::vector<std::string>& arguments);

    static std::string approvalPath();
    static std::string approvalSteer();
    static std::string approvalSteer(const std::string& displayName, const std::optional<std::string>& signerName);
    static void openApprovalSettings();
    static bool userIsAdmin();

    // Turns the job on: registers it, waits up to `approvalWait` for the
    // person's approval and for the job to answer. One install of a job runs
    // at a time in the process; a second caller gets the first one's
    // outcome. Throws Failure. Blocks; any thread.
    State install(std::chrono::nanoseconds approvalWait, bool afresh = false) const;
    // Hands the job's work back, then unregisters it. Throws Failure.
    void uninstall() const;
    // Restarts a running agent. Any other kind is a programming error and
    // ends the process.
    void restart() const;
    // Moves an agent definition an older version left in the user's own
    // launch-agent folder to the Trash.
    void removeStrayDefinition() const;

    // The install's steps, open for the tests.
    State performInstall(std::chrono::nanoseconds approvalWait, bool afresh) const;
    // Hands back and unregisters; the registry's refusal, if any.
    std::optional<Platform::BackgroundServices::Failure> stop() const;
    void registerJob() const;
    void awaitApproval(std::chrono::nanoseconds within) const;
    // Whether `probe` answers true within ten seconds; a probe that hangs
    // counts as no answer.
    bool answering(const std::function<bool()>& probe) const;

private:
    Platform::BackgroundServices::Handle handle() const;
    Platform::BackgroundServices::Registry& registry() const { return system_->registry(); }
    std::string launchdTargetOf(const std::string& label) const;

    Kind kind_;
    std::string name_;
    std::function<bool()> answers_;
    std::function<void()> handBack_;
    std::shared_ptr<const JobSystem> system_;
};

// "system/<label>" for a daemon, else "gui/<uid>/<label>".
std::string launchdTarget(const std::string& label, bool daemon);
std::string launchdTarget(const std::string& label, bool daemon, uint32_t uid);
// The running job's pid from `launchctl print <target>`.
std::optional<int32_t> launchdPID(const std::string& target);
// The program launchd registered for the target.
std::optional<std::string> registeredImage(const std::string& target);
// The same, read from launchctl print's output.
std::optional<int32_t> pidIn(const std::string& printed);
std::optional<std::string> imageIn(const std::string& printed);

// Whether `user` belongs to the "admin" group of `directory`, however many
// groups the user is in.
bool isAdmin(const Platform::Accounts::Directory& directory, const std::string& user);

// A name read from a file that may become part of a path: not empty, no
// "/", no leading ".".
bool isPlainFileName(const std::string& name);

} // namespace AppInstallation
