#pragma once

#include "PermissionGrants/Observe.hpp"
#include "PermissionGrants/Privacy.hpp"
#include "PermissionGrants/Standing.hpp"

#include <Platform/AppEvents.hpp>
#include <Platform/Clock.hpp>
#include <Platform/CodeSigning.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/Privacy.hpp>
#include <Platform/Workspace.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace PermissionGrants {

class Readings;

// Reads, asks for and watches the running application's privacy
// permissions. A running process may keep seeing the permission it started
// with, so the hub confirms its readings with a fresh process of its own
// executable (a probe), and re-reads on a timer for two minutes after each
// reason to expect a change. Observable: trackers hear of every changed
// answer.
class PrivacyHub {
public:
    enum class Answer { allowed, denied, notAsked, allowedOnReopen, unknown };
    enum class Source { preflight, publicAPI };

    // Everything the hub reaches outside itself; shared() wires the running
    // process's, tests a fake's. Whatever is pointed to outlives the hub.
    struct Dependencies {
        Platform::Privacy::Services* services = nullptr;
        // The hub's own serial queue, where refreshes and the timer run.
        // Never the queue that delivers the platform's completions: a
        // refresh waits for those.
        Platform::Queue* queue = nullptr;
        // Where asking and its completion run.
        Platform::Queue* main = nullptr;
        // Time for the re-reading window, at the rate the timer runs.
        Platform::Clock* clock = nullptr;
        // None: no subscriptions.
        Platform::AppEvents* events = nullptr;
        Platform::Workspace* workspace = nullptr;
        Readings* readings = nullptr;
        // GRANT_PUBLIC_API, read once, when the source is chosen.
        std::function<const char*()> publicAPIVariable;
        // Whether fresh probes are allowed (answerProbeIfAsked ran in a
        // normal launch).
        std::function<bool()> probes;
        // The executable a probe runs: the main bundle's.
        std::optional<std::filesystem::path> executable;
        // How long a probe may take on this host before it is killed.
        Platform::Duration probeLimit = std::chrono::seconds(5);
        // Brings the application to the front, when there is one.
        std::function<void()> activate;
        // Relaunches the application, for the given reason.
        std::function<void(const std::string& why)> reopen;
        // The running executable's code signature.
        std::function<std::optional<Platform::CodeSigning::SigningInformation>()> signature;
    };

    // The one hub, created on first use.
    static PrivacyHub& shared();
    // A serial queue of the hub's own, at utility priority: never the queue
    // that delivers the platform's completions.
    static std::unique_ptr<Platform::Queue> makeQueue();

    explicit PrivacyHub(Dependencies dependencies);
    ~PrivacyHub();
    PrivacyHub(const PrivacyHub&) = delete;
    PrivacyHub& operator=(const PrivacyHub&) = delete;

    // The standing of a permission, from its answer. Any thread.
    Standing standing(Privacy privacy);
    // The cached answer, read first when there is none. Any thread.
    Answer answer(Privacy privacy);
    // On the main thread: asks the person or opens settings; `completion`
    // runs on the main thread once done.
    void ask(Privacy privacy, std::function<void()> completion);
    // Opens (or extends) the two-minute re-reading window and refreshes now.
    void watchSettings(std::string_view why);
    // Sets up watching once.
    void start();

    // Opens System Settings at a privacy anchor ("Privacy_Camera").
    static void openSettings(std::string_view pane);
    // The same through this hub.
    void openPane(std::string_view pane);

    // How this hub reads permissions, chosen (and logged) on first use.
    Source source();
    // Goes up with every added or changed answer. Observed.
    uint64_t revision() const;
    // Re-reads the grant cache and every permission read so far, with a
    // fresh probe when one answers. Runs on the hub's queue; the benchmark
    // calls it directly.
    void readAll();

    // First thing at every launch of a program that uses the hub, with the
    // arguments after the program's name: a probe launch prints the
    // readings and ends the process; any other enables fresh probes.
    static void answerProbeIfAsked(const std::vector<std::string>& arguments);

private:
    // Stores an answer; logs and bumps the revision when it is new or
    // changed.
    Answer record(Privacy privacy, Answer answer, int raw, bool fresh);
    // The codes a fresh process of this executable reads, when all ten came.
    std::optional<std::map<Privacy, int>> freshCodes();
    int currentCode(Privacy privacy);
    bool hasAsked(Privacy privacy);
    // Asks the platform; `done` gets yes, no or nothing on the main queue.
    void request(Privacy privacy, std::function<void(std::optional<bool>)> done);
    void privateRequest(Privacy privacy, std::function<void(std::optional<bool>)> done);

    Dependencies use_;
    ObservationRegistrar registrar_;
    mutable std::mutex lock_;
    std::map<Privacy, Answer> answers_;
    bool started_ = false;
    uint64_t revision_ = 0;

    std::once_flag sourceChosen_;
    Source source_ = Source::preflight;
    std::mutex askedLock_;
    std::set<Privacy> asked_;
    std::mutex windowLock_;
    Platform::Date settingsWindow_ = Platform::Date::min();
    std::once_flag disclaimMissingLogged_;

    // Last, so that they go first: nothing fires into a hub being torn down.
    std::unique_ptr<Platform::RepeatingTimer> timer_;
    std::unique_ptr<Platform::AppEvents::Subscription> cameForward_;
    std::unique_ptr<Platform::AppEvents::Subscription> accessibilityChanged_;
};

// "allowed", "denied", "not asked", "allowed on reopen", "unknown".
std::string_view rawValue(PrivacyHub::Answer answer);

} // namespace PermissionGrants
