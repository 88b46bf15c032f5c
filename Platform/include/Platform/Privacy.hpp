#pragma once

#include "Platform/CodeSigning.hpp"
#include "Platform/Dispatch.hpp"
#include "Platform/Person.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <spawn.h>
#include <string>
#include <string_view>

// Privacy permissions on the simulated Mac: the consent database the
// platform keeps under the simulation root (privacy/), read and asked the
// ways an application can: the private preflight and request entry points,
// the public readers and requests, and the spawn attribute that makes a
// child answer for itself. docs/simulated-host.md has the files and the
// rules of what a process sees.
namespace Platform::Privacy {

// Who a permission belongs to: the main bundle's identifier, or the
// executable's macOS path for a program outside any bundle.
std::string ownClient();

// The public status readers' numbers (AVCaptureDevice, SFSpeechRecognizer,
// CMHeadphoneMotionManager).
namespace Status {
inline constexpr int notDetermined = 0;
inline constexpr int restricted = 1;
inline constexpr int denied = 2;
inline constexpr int authorized = 3;
} // namespace Status

// The CoreGraphics yes/no accesses.
enum class Access { postEvent, listenEvent, screenCapture };
// What the public status readers report on.
enum class Subject { audio, video, speech, headphoneMotion };

class Services {
public:
    virtual ~Services() = default;

    // Whether the private entry points can be found on this machine.
    virtual bool hasPreflight() = 0;
    virtual bool hasRequest() = 0;
    virtual bool hasDisclaim() = 0;

    // TCCAccessPreflight: 0 allowed, 1 denied or restricted, 2 not
    // determined, for a service name such as "kTCCServiceCamera". Never
    // prompts. Only when hasPreflight().
    virtual int preflight(std::string_view service) = 0;
    // TCCAccessRequest: prompts the person when the service is not
    // determined; `completion` runs once, on a background queue, with
    // whether it is allowed. Only when hasRequest().
    virtual void request(std::string_view service, std::function<void(bool granted)> completion) = 0;
    // responsibility_spawnattrs_setdisclaim: 0 on success. Only when
    // hasDisclaim().
    virtual int disclaim(posix_spawnattr_t& attributes, int disclaim) = 0;

    // AXIsProcessTrusted, or AXIsProcessTrustedWithOptions with the prompt
    // option: the prompt is shown without waiting for its answer.
    virtual bool accessibilityTrusted(bool prompt) = 0;
    // CGPreflight…Access and CGRequest…Access: a request prompts when the
    // access is not determined, without waiting for the answer.
    virtual bool preflightAccess(Access access) = 0;
    virtual bool requestAccess(Access access) = 0;
    // A status reader (Status numbers).
    virtual int authorizationStatus(Subject subject) = 0;
    // AVCaptureDevice access requests (audio or video only): `completion`
    // runs once, on a background queue, after the person answered.
    virtual void requestCapture(Subject subject, std::function<void(bool granted)> completion) = 0;
    // SFSpeechRecognizer's request: `completion` gets the Status number.
    virtual void requestSpeech(std::function<void(int status)> completion) = 0;

    // The services of the running process on the simulated host.
    static Services& current();
};

// The simulated services of the machine at `root` for the client `client`
// run by `asker`: prompts go to `person`, completions run on `completions`.
// `signature` is the running code's (hardened runtime and entitlements).
std::unique_ptr<Services>
makeSimulatedServices(std::filesystem::path root, std::string client, Asker asker, Person& person, Queue& completions,
                      std::optional<CodeSigning::SigningInformation> signature = CodeSigning::ownSigningInformation());

} // namespace Platform::Privacy
