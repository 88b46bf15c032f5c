#include "PermissionGrants/GrantLog.hpp"
#include "PermissionGrants/PrivacyHub.hpp"
#include "PermissionGrants/Signature.hpp"

namespace PermissionGrants {

using Answer = PrivacyHub::Answer;
using Done = std::function<void(std::optional<bool>)>;
using Platform::Privacy::Access;
using Platform::Privacy::Subject;

void PrivacyHub::openSettings(std::string_view pane) { shared().openPane(pane); }

void PrivacyHub::openPane(std::string_view pane) {
    grantLog.info("opened System Settings", [&] { return Log::Fields{{"pane", std::string(pane)}}; });
    watchSettings("pane opened");
    auto url = Platform::URL::parse("x-apple.systempreferences:com.apple.preference.security?" + std::string(pane));
    if (url) use_.workspace->open(*url);
}

void PrivacyHub::ask(Privacy privacy, std::function<void()> completion) {
    Answer before = answer(privacy);
    switch (before) {
    case Answer::allowed: completion(); return;
    case Answer::denied:
        grantLog.info("asked again: opening its pane", [&] { return Log::Fields{{"grant", std::string(title(privacy))}}; });
        openPane(settingsAnchor(privacy));
        watchSettings("asked");
        completion();
        return;
    case Answer::allowedOnReopen:
        use_.reopen("a permission applies on reopen");
        completion();
        return;
    case Answer::notAsked:
    case Answer::unknown: break;
    }
    if (use_.activate) use_.activate();
    {
        std::lock_guard lock(askedLock_);
        asked_.insert(privacy);
    }
    request(privacy, [this, privacy, before, completion = std::move(completion)](std::optional<bool> granted) {
        grantLog.info("asked macOS", [&] {
            return Log::Fields{{"grant", std::string(title(privacy))},
                               {"before", std::string(rawValue(before))},
                               {"answered", std::string(!granted ? "in System Settings" : *granted ? "allowed" : "denied")}};
        });
        if (granted) {
            if (*granted)
                record(privacy, Answer::allowed, 0, false);
            else
                record(privacy, Answer::denied, 1, false);
        }
        watchSettings("asked");
        completion();
    });
}

void PrivacyHub::request(Privacy privacy, Done done) {
    auto& services = *use_.services;
    // The platform's completions come on its own queue; the answer is the
    // main thread's.
    auto onMain = [main = use_.main, done](std::optional<bool> granted) {
        main->async([done, granted] { done(granted); });
    };
    switch (privacy) {
    case Privacy::accessibility: services.accessibilityTrusted(true); break;
    case Privacy::postEvents: services.requestAccess(Access::postEvent); break;
    case Privacy::inputMonitoring: services.requestAccess(Access::listenEvent); break;
    case Privacy::screenRecording: services.requestAccess(Access::screenCapture); break;
    case Privacy::systemAudio:
    case Privacy::motion: privateRequest(privacy, std::move(done)); return;
    case Privacy::microphone:
    case Privacy::camera: {
        bool microphone = privacy == Privacy::microphone;
        auto signature = use_.signature ? use_.signature() : std::nullopt;
        if (Signature::hardened(signature) &&
            !Signature::entitled(signature, microphone ? "com.apple.security.device.audio-input"
                                                       : "com.apple.security.device.camera"))
            grantLog.error(microphone ? "the microphone can never be granted: the hardened runtime needs "
                                        "com.apple.security.device.audio-input in this app's entitlements, and macOS "
                                        "denies without asking"
                                      : "the camera can never be granted: the hardened runtime needs "
                                        "com.apple.security.device.camera in this app's entitlements, and macOS "
                                        "denies without asking");
        services.requestCapture(microphone ? Subject::audio : Subject::video,
                                [onMain](bool granted) { onMain(granted); });
        return;
    }
    case Privacy::speechRecognition:
        services.requestSpeech(
            [onMain](int status) { onMain(status == Platform::Privacy::Status::authorized); });
        return;
    case Privacy::fullDiskAccess: openPane("Privacy_AllFiles"); break;
    }
    done(std::nullopt);
}

void PrivacyHub::privateRequest(Privacy privacy, Done done) {
    if (!use_.services->hasRequest()) {
        openPane(settingsAnchor(privacy));
        done(std::nullopt);
        return;
    }
    use_.services->request(serviceName(privacy), [main = use_.main, done = std::move(done)](bool granted) {
        main->async([done, granted] { done(granted); });
    });
}

} // namespace PermissionGrants
