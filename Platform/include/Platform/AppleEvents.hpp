#pragma once

#include "Platform/Person.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

// Apple Events automation consent on the simulated Mac: whether this
// application may send events to another, kept in the privacy database
// (privacy/) per target bundle identifier. docs/simulated-host.md has the
// rules.
namespace Platform::AppleEvents {

inline constexpr int32_t noErr = 0;
inline constexpr int32_t paramErr = -50;
inline constexpr int32_t procNotFound = -600;
inline constexpr int32_t eventNotPermitted = -1743;
inline constexpr int32_t wouldRequireUserConsent = -1744;

// An address descriptor for an application by bundle identifier ('bund').
struct Address {
    std::string bundleID;
};

class Consent {
public:
    virtual ~Consent() = default;
    // AECreateDesc with typeApplicationBundleID: the address, or the code
    // that stopped it.
    virtual std::variant<Address, int32_t> createAddress(std::string_view bundleID) = 0;
    // AEDeterminePermissionToAutomateTarget for any event ('****'): noErr
    // when allowed, wouldRequireUserConsent when the person was never asked
    // and `askUserIfNeeded` is false, procNotFound when the target does not
    // run, eventNotPermitted when refused. With `askUserIfNeeded` an
    // undecided target prompts the person and the call blocks until the
    // answer.
    virtual int32_t determinePermission(const Address& target, bool askUserIfNeeded) = 0;

    // The consent of the running process on the simulated host.
    static Consent& current();
};

// The simulated consent of the machine at `root` for the client `client`
// (as Privacy::ownClient names it) run by `asker`; prompts go to `person`.
std::unique_ptr<Consent> makeSimulatedConsent(std::filesystem::path root, std::string client, Asker asker,
                                              Person& person);

} // namespace Platform::AppleEvents
