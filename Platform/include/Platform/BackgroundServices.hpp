#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

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
inline constexpr int32_t invalidSignature = 3;
inline constexpr int32_t jobNotFound = 6;
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

} // namespace Platform::BackgroundServices
