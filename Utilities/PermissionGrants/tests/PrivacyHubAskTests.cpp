#include "PrivacyHubFakes.hpp"

#include <PermissionGrants/Signature.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace PermissionGrants;
using namespace PrivacyHubTesting;
using Answer = PrivacyHub::Answer;

constexpr const char* paneURL = "x-apple.systempreferences:com.apple.preference.security?";

// Asks and runs the main queue until the completion came.
void askAndWait(PrivacyHub& hub, HubOnFakes& fakes, Privacy privacy) {
    bool completed = false;
    hub.ask(privacy, [&] { completed = true; });
    fakes.time.runUntilIdle();
    EXPECT_TRUE(completed) << title(privacy);
}

TEST(PrivacyHubAsk, AllowedDoesNothing) {
    CapturedLog log;
    HubOnFakes fakes;
    fakes.services.codes["kTCCServiceCamera"] = 0;
    PrivacyHub hub(fakes.dependencies());
    askAndWait(hub, fakes, Privacy::camera);
    EXPECT_TRUE(fakes.services.calls.empty());
    EXPECT_TRUE(fakes.workspace.opened.empty());
    EXPECT_EQ(log.messages(), std::vector<std::string>{"reads allowed"});
}

TEST(PrivacyHubAsk, DeniedOpensItsPaneAndWatches) {
    CapturedLog log;
    HubOnFakes fakes;
    fakes.services.codes["kTCCServiceListenEvent"] = 1;
    PrivacyHub hub(fakes.dependencies());
    askAndWait(hub, fakes, Privacy::inputMonitoring);
    EXPECT_TRUE(fakes.services.calls.empty());
    EXPECT_EQ(fakes.workspace.opened, std::vector<std::string>{std::string(paneURL) + "Privacy_ListenEvent"});
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"reads denied", "asked again: opening its pane",
                                                         "opened System Settings", "watching for permission changes"}));
    EXPECT_EQ(log.line("asked again: opening its pane")["fields"], nlohmann::json({{"grant", "Input Monitoring"}}));
    EXPECT_EQ(log.line("opened System Settings")["fields"], nlohmann::json({{"pane", "Privacy_ListenEvent"}}));
    EXPECT_EQ(log.line("watching for permission changes")["fields"], nlohmann::json({{"why", "pane opened"}}));
}

TEST(PrivacyHubAsk, AnAnchorThatMakesNoURLOpensNothing) {
    CapturedLog log;
    HubOnFakes fakes;
    PrivacyHub hub(fakes.dependencies());
    hub.openPane("Privacy Camera");
    EXPECT_TRUE(fakes.workspace.opened.empty());
    EXPECT_EQ(log.line("opened System Settings")["fields"], nlohmann::json({{"pane", "Privacy Camera"}}));
}

struct AskRow {
    Privacy privacy;
    std::vector<std::string> calls;
    const char* answered;
    Answer after;
    std::vector<std::string> opened;
};

TEST(PrivacyHubAsk, NotAskedAsksThePlatformByPermission) {
    const AskRow rows[] = {
        {Privacy::accessibility, {"accessibility prompt"}, "in System Settings", Answer::notAsked, {}},
        {Privacy::postEvents, {"request access 0"}, "in System Settings", Answer::notAsked, {}},
        {Privacy::inputMonitoring, {"request access 1"}, "in System Settings", Answer::notAsked, {}},
        {Privacy::screenRecording, {"request access 2"}, "in System Settings", Answer::notAsked, {}},
        {Privacy::systemAudio, {"request kTCCServiceAudioCapture"}, "allowed", Answer::allowed, {}},
        {Privacy::motion, {"request kTCCServiceMotion"}, "denied", Answer::denied, {}},
        {Privacy::microphone, {"request capture 0"}, "allowed", Answer::allowed, {}},
        {Privacy::camera, {"request capture 1"}, "denied", Answer::denied, {}},
        {Privacy::speechRecognition, {"request speech"}, "allowed", Answer::allowed, {}},
        {Privacy::fullDiskAccess, {}, "in System Settings", Answer::notAsked,
         {std::string(paneURL) + "Privacy_AllFiles"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(title(row.privacy));
        CapturedLog log;
        HubOnFakes fakes;
        fakes.services.requestAnswer = row.privacy != Privacy::motion;
        fakes.services.captureAnswer = row.privacy != Privacy::camera;
        PrivacyHub hub(fakes.dependencies());
        askAndWait(hub, fakes, row.privacy);
        EXPECT_EQ(fakes.services.calls, row.calls);
        EXPECT_EQ(fakes.workspace.opened, row.opened);
        EXPECT_EQ(fakes.events.activations, 1);
        EXPECT_EQ(hub.answer(row.privacy), row.after);
        auto asked = log.line("asked macOS");
        ASSERT_FALSE(asked.is_null());
        EXPECT_EQ(asked["fields"], nlohmann::json({{"grant", std::string(title(row.privacy))},
                                                   {"before", "not asked"},
                                                   {"answered", row.answered}}));
        auto messages = log.messages();
        // The pane opens (and the window with it) before the answer.
        bool paneFirst = row.privacy == Privacy::fullDiskAccess;
        EXPECT_EQ(messages.back(), paneFirst ? "asked macOS" : "watching for permission changes");
        EXPECT_EQ(log.line("watching for permission changes")["fields"]["why"], paneFirst ? "pane opened" : "asked");
        if (row.after != Answer::notAsked) {
            EXPECT_THAT(messages, testing::Contains("changed to " + std::string(rawValue(row.after))));
        }
    }
}

TEST(PrivacyHubAsk, SpeechIsAllowedOnlyWhenAuthorized) {
    for (int status : {0, 1, 2, 4}) {
        HubOnFakes fakes;
        fakes.services.speechAnswer = status;
        PrivacyHub hub(fakes.dependencies());
        askAndWait(hub, fakes, Privacy::speechRecognition);
        EXPECT_EQ(hub.answer(Privacy::speechRecognition), Answer::denied) << status;
    }
}

TEST(PrivacyHubAsk, WithoutThePrivateRequestThePaneOpens) {
    for (Privacy privacy : {Privacy::systemAudio, Privacy::motion}) {
        CapturedLog log;
        HubOnFakes fakes;
        fakes.services.requestPresent = false;
        PrivacyHub hub(fakes.dependencies());
        askAndWait(hub, fakes, privacy);
        EXPECT_TRUE(fakes.services.calls.empty());
        EXPECT_EQ(fakes.workspace.opened,
                  std::vector<std::string>{std::string(paneURL) + std::string(settingsAnchor(privacy))});
        EXPECT_EQ(log.line("asked macOS")["fields"]["answered"], "in System Settings");
    }
}

TEST(PrivacyHubAsk, UnknownAsksToo) {
    HubOnFakes fakes;
    fakes.services.codes["kTCCServiceAudioCapture"] = -1;
    PrivacyHub hub(fakes.dependencies());
    askAndWait(hub, fakes, Privacy::systemAudio);
    EXPECT_EQ(fakes.services.calls, std::vector<std::string>{"request kTCCServiceAudioCapture"});
    EXPECT_EQ(hub.answer(Privacy::systemAudio), Answer::allowed);
}

TEST(PrivacyHubAsk, PublicModeReadsANoAsDeniedOnceAsked) {
    HubOnFakes fakes;
    fakes.publicAPI = "1";
    PrivacyHub hub(fakes.dependencies());
    EXPECT_EQ(hub.answer(Privacy::inputMonitoring), Answer::notAsked);
    askAndWait(hub, fakes, Privacy::inputMonitoring);
    EXPECT_EQ(hub.answer(Privacy::inputMonitoring), Answer::denied); // the refresh after asking
    EXPECT_EQ(fakes.services.calls, std::vector<std::string>{"request access 1"});
}

TEST(PrivacyHubAsk, CaptureWithoutItsEntitlementUnderTheHardenedRuntimeIsLoggedAndStillRequested) {
    const std::string microphoneError =
        "the microphone can never be granted: the hardened runtime needs com.apple.security.device.audio-input in "
        "this app's entitlements, and macOS denies without asking";
    const std::string cameraError =
        "the camera can never be granted: the hardened runtime needs com.apple.security.device.camera in this app's "
        "entitlements, and macOS denies without asking";
    struct Row {
        const char* what;
        std::optional<uint32_t> flags; // none: unsigned
        nlohmann::json entitlements;
        bool logged;
    };
    const Row rows[] = {
        {"unsigned", std::nullopt, nlohmann::json::object(), false},
        {"not hardened", 0, nlohmann::json::object(), false},
        {"hardened, no entitlements", 0x10000 | 0x2, nlohmann::json::object(), true},
        {"hardened, entitled", 0x10000,
         {{"com.apple.security.device.audio-input", true}, {"com.apple.security.device.camera", true}}, false},
        {"hardened, entitlement false", 0x10000,
         {{"com.apple.security.device.audio-input", false}, {"com.apple.security.device.camera", false}}, true},
        {"hardened, entitlement not a boolean", 0x10000,
         {{"com.apple.security.device.audio-input", "true"}, {"com.apple.security.device.camera", 1}}, true},
    };
    for (const auto& row : rows)
        for (Privacy privacy : {Privacy::microphone, Privacy::camera}) {
            SCOPED_TRACE(std::string(row.what) + " " + std::string(title(privacy)));
            CapturedLog log;
            HubOnFakes fakes;
            if (row.flags) {
                fakes.signature.emplace();
                fakes.signature->flags = *row.flags;
                fakes.signature->entitlements = row.entitlements;
            }
            PrivacyHub hub(fakes.dependencies());
            askAndWait(hub, fakes, privacy);
            EXPECT_EQ(fakes.services.calls.size(), 1u);
            const std::string& error = privacy == Privacy::microphone ? microphoneError : cameraError;
            auto line = log.line(error);
            EXPECT_EQ(!line.is_null(), row.logged);
            if (row.logged) {
                EXPECT_EQ(line["level"], "error");
            }
            EXPECT_EQ(Signature::hardened(fakes.signature), row.flags && (*row.flags & 0x10000) != 0);
            EXPECT_EQ(Signature::entitled(fakes.signature, "com.apple.security.device.camera"),
                      std::string(row.what) == "hardened, entitled");
        }
}

TEST(PrivacyHubAsk, ActivationComesBeforeTheRequestAndEveryAskIsRemembered) {
    HubOnFakes fakes;
    fakes.publicAPI = "1";
    PrivacyHub hub(fakes.dependencies());
    askAndWait(hub, fakes, Privacy::postEvents);
    askAndWait(hub, fakes, Privacy::screenRecording);
    EXPECT_EQ(fakes.events.activations, 2);
    // Both now read a "no" as denied; one never asked still reads not asked.
    EXPECT_EQ(hub.answer(Privacy::postEvents), Answer::denied);
    EXPECT_EQ(hub.answer(Privacy::screenRecording), Answer::denied);
    EXPECT_EQ(hub.answer(Privacy::inputMonitoring), Answer::notAsked);
}

} // namespace
