#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The simulated Mac's background-service registry: which launch agents,
// launch daemons and login items apps registered, per domain ("gui/<uid>"
// or "system") and bundle identifier, whether the person approved them, and
// from which copy of the app (bundle path) they were registered. It lives
// in background/ under the simulation root and is safe between processes.
// An enabled agent or daemon is loaded into the simulated launchd
// (Launchd.hpp); unregistering or switching it off boots it out.
namespace Platform::BackgroundServices {

// The registry's status numbers.
inline constexpr int32_t notRegistered = 0;
inline constexpr int32_t enabled = 1;
inline constexpr int32_t requiresApproval = 2;
inline constexpr int32_t notFound = 3; // the calling bundle has no such definition

// The registry's error numbers (1 is the system's EPERM).
inline constexpr int32_t operationNotPermitted = 1;
inline constexpr int32_t internalFailure = 2; // the registry's files cannot be written
inline constexpr int32_t invalidSignature = 3;
inline constexpr int32_t jobNotFound = 6;
inline constexpr int32_t plistNotFound = 8; // the calling bundle has no such definition
inline constexpr int32_t launchDeniedByUser = 11;
inline constexpr int32_t alreadyRegistered = 12;

// A refused call: the error number and the platform's description of it.
struct Failure {
    int32_t code = 0;
    std::string description;
    bool operator==(const Failure&) const = default;
};

// What an app registers: one of its agents or daemons by the file name of
// its definition (Contents/Library/LaunchAgents/<plist>,
// Contents/Library/LaunchDaemons/<plist>), or the app itself as a login item.
struct Handle {
    enum class Kind { agent, daemon, loginItem };
    Kind kind = Kind::loginItem;
    std::string plist; // empty for the login item
    bool operator==(const Handle&) const = default;
};

// The registry as one app sees it: the app whose bundle is given, run by
// the current simulated user.
class Registry {
public:
    virtual ~Registry() = default;
    virtual int32_t status(const Handle& handle) = 0;
    // Nothing on success.
    virtual std::optional<Failure> registerService(const Handle& handle) = 0;
    virtual std::optional<Failure> unregisterService(const Handle& handle) = 0;
    // Opens System Settings at Login Items.
    virtual void openSystemSettingsLoginItems() = 0;
};

// The registry of the machine at `root` for the app whose bundle is at
// `bundle` (a host path).
std::unique_ptr<Registry> forApp(const std::filesystem::path& bundle, const std::filesystem::path& root);

// The registry for the running program's main bundle on this process's
// simulated machine. A program outside any bundle sees every handle as
// notFound and every call refused.
Registry& shared();

// The machine's side of the registry: what the person, lumra-sim and tests
// read and set. docs/simulated-host.md describes the files.

// The status number's words: "not registered", "enabled", …
std::string statusWords(int32_t status);

// The platform's description of an error number.
std::string describe(int32_t code);

// One registration as the registry keeps it.
struct Record {
    std::string domain;     // "gui/501", "system"
    std::string identifier; // the registering app's bundle identifier
    std::string handle;     // "agent <plist>", "daemon <plist>", "login item"
    int32_t status = notRegistered;
    std::string bundle;     // macOS path of the copy it was registered from
    bool operator==(const Record&) const = default;
};

// Every registration in the order made (answers that fell due applied first).
std::vector<Record> records(const std::filesystem::path& root);

// How the person answers an approval request.
enum class Answer { approve, deny };

// Answers for the person: the registrations of `identifier` whose job is
// `job` (a plist name, or "login-item") in the current user's domain and the
// system domain. Approving enables and loads the job; denying switches it off
// (requires approval again, booted out). False when none matches or the
// registry cannot be written.
bool answer(const std::string& identifier, const std::string& job, Answer answer, const std::filesystem::path& root);

// What registering a kind of job does on this machine: enabled at once,
// asks the person (who may answer by themselves after a delay), refused
// (operation not permitted), switched off in Settings (launch denied), or
// ignored (the call succeeds but nothing is registered, a platform quirk).
struct Policy {
    enum class Decision { enabled, ask, denied, switchedOff, ignored };
    Decision decision = Decision::enabled;
    std::optional<Answer> answer; // for ask: the person's answer ...
    double after = 0;             // ... this many simulated seconds after registering
    bool operator==(const Policy&) const = default;
};
Policy policy(Handle::Kind kind, const std::filesystem::path& root);
// The decision's word in policy.json and on lumra-sim's command line.
std::string decisionWord(Policy::Decision decision);
std::optional<Policy::Decision> decisionNamed(const std::string& word);
bool setPolicy(Handle::Kind kind, const Policy& policy, const std::filesystem::path& root);

// Scripted failures for tests: the next `times` calls of one sort fail with
// `code` (not 0) and its description, changing nothing.
enum class Call { registration, unregistration };
bool queueFailure(Call call, int32_t code, unsigned times, const std::filesystem::path& root);
bool clearFailures(const std::filesystem::path& root);

} // namespace Platform::BackgroundServices
