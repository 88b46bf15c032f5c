#include "PrivacyHubFakes.hpp"

#include <PermissionGrants/PrivacyCodes.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using namespace PermissionGrants;
using namespace PrivacyHubTesting;
using Answer = PrivacyHub::Answer;
using Source = PrivacyHub::Source;
namespace Codes = PrivacyCodes;

struct TableRow {
    Privacy privacy;
    const char* service;
    const char* title;
    const char* inNotes;
    const char* anchor;
    const char* symbol;
};

const TableRow table[] = {
    {Privacy::accessibility, "kTCCServiceAccessibility", "Accessibility", "Accessibility", "Privacy_Accessibility",
     "accessibility"},
    {Privacy::postEvents, "kTCCServicePostEvent", "Posting events", "Accessibility", "Privacy_Accessibility",
     "keyboard"},
    {Privacy::inputMonitoring, "kTCCServiceListenEvent", "Input Monitoring", "Input Monitoring", "Privacy_ListenEvent",
     "keyboard.badge.eye"},
    {Privacy::systemAudio, "kTCCServiceAudioCapture", "System Audio Recording", "Screen & System Audio Recording",
     "Privacy_AudioCapture", "speaker.wave.2"},
    {Privacy::screenRecording, "kTCCServiceScreenCapture", "Screen Recording", "Screen & System Audio Recording",
     "Privacy_ScreenCapture", "rectangle.dashed.badge.record"},
    {Privacy::microphone, "kTCCServiceMicrophone", "Microphone", "Microphone", "Privacy_Microphone", "mic"},
    {Privacy::camera, "kTCCServiceCamera", "Camera", "Camera", "Privacy_Camera", "camera"},
    {Privacy::speechRecognition, "kTCCServiceSpeechRecognition", "Speech Recognition", "Speech Recognition",
     "Privacy_SpeechRecognition", "waveform"},
    {Privacy::motion, "kTCCServiceMotion", "Motion", "Motion & Fitness", "Privacy_Motion", "airpods.pro"},
    {Privacy::fullDiskAccess, "kTCCServiceSystemPolicyAllFiles", "Full Disk Access", "Full Disk Access",
     "Privacy_AllFiles", "externaldrive"},
};

TEST(PrivacyTable, EveryPermissionInOrderWithItsWords) {
    for (size_t i = 0; i < allPrivacies.size(); ++i) {
        const auto& row = table[i];
        SCOPED_TRACE(row.service);
        EXPECT_EQ(allPrivacies[i], row.privacy);
        EXPECT_EQ(serviceName(row.privacy), row.service);
        EXPECT_EQ(title(row.privacy), row.title);
        EXPECT_EQ(nameInNotes(row.privacy), row.inNotes);
        EXPECT_EQ(settingsAnchor(row.privacy), row.anchor);
        EXPECT_EQ(defaultSymbol(row.privacy), row.symbol);
        EXPECT_EQ(privacyOfService(row.service), row.privacy);
    }
    for (const char* near : {"", "kTCCServiceCamera ", " kTCCServiceCamera", "kTCCServicecamera", "Camera",
                             "kTCCServiceAppleEvents", "kTCCServiceCamera\n"})
        EXPECT_EQ(privacyOfService(near), std::nullopt) << near;
}

TEST(PrivacyCodes, PublicReadersGiveCodesByKind) {
    TestSupport::VirtualTime time;
    FakeServices services(time);
    // Yes/no readers: a no is "denied" only once this process asked.
    struct YesNo {
        Privacy privacy;
        std::function<void(bool)> set;
    };
    const YesNo yesNo[] = {
        {Privacy::accessibility, [&](bool yes) { services.trusted = yes; }},
        {Privacy::postEvents, [&](bool yes) { services.granted[Access::postEvent] = yes; }},
        {Privacy::inputMonitoring, [&](bool yes) { services.granted[Access::listenEvent] = yes; }},
        {Privacy::screenRecording, [&](bool yes) { services.granted[Access::screenCapture] = yes; }},
    };
    for (const auto& row : yesNo) {
        SCOPED_TRACE(serviceName(row.privacy));
        row.set(false);
        EXPECT_EQ(Codes::publicCode(row.privacy, services, false), 2);
        EXPECT_EQ(Codes::publicCode(row.privacy, services, true), 1);
        row.set(true);
        EXPECT_EQ(Codes::publicCode(row.privacy, services, false), 0);
        EXPECT_EQ(Codes::publicCode(row.privacy, services, true), 0);
    }
    // Status readers: authorized 0, not determined 2, restricted or denied 1.
    const std::pair<Privacy, Subject> statusReaders[] = {{Privacy::microphone, Subject::audio},
                                                         {Privacy::camera, Subject::video},
                                                         {Privacy::speechRecognition, Subject::speech},
                                                         {Privacy::motion, Subject::headphoneMotion}};
    const std::pair<int, int> statuses[] = {{0, 2}, {1, 1}, {2, 1}, {3, 0}, {4, -1}, {-5, -1}};
    for (const auto& [privacy, subject] : statusReaders)
        for (const auto& [status, code] : statuses) {
            services.statuses[subject] = status;
            EXPECT_EQ(Codes::publicCode(privacy, services, false), code) << serviceName(privacy) << " " << status;
            EXPECT_EQ(Codes::publicCode(privacy, services, true), code) << serviceName(privacy) << " " << status;
        }
    for (Privacy unreadable : {Privacy::systemAudio, Privacy::fullDiskAccess})
        EXPECT_EQ(Codes::publicCode(unreadable, services, true), -1);
}

TEST(PrivacyCodes, AnswersOfCodesAndOfFreshCodes) {
    const std::pair<int, Answer> inProcess[] = {{0, Answer::allowed}, {1, Answer::denied},  {-1, Answer::unknown},
                                                {2, Answer::notAsked}, {3, Answer::notAsked}, {-2, Answer::notAsked}};
    for (const auto& [code, answer] : inProcess) EXPECT_EQ(Codes::answerOf(code), answer) << code;

    struct Fresh {
        Privacy privacy;
        int inProcess;
        int fresh;
        Answer answer;
    };
    const Fresh fresh[] = {
        {Privacy::camera, 2, 0, Answer::allowedOnReopen},   {Privacy::camera, 1, 0, Answer::allowedOnReopen},
        {Privacy::camera, -1, 0, Answer::allowedOnReopen},  {Privacy::camera, 0, 0, Answer::allowed},
        {Privacy::camera, 0, 1, Answer::denied},            {Privacy::camera, 0, 2, Answer::notAsked},
        {Privacy::camera, 0, -1, Answer::unknown},          {Privacy::camera, 2, 9, Answer::notAsked},
        {Privacy::accessibility, 2, 0, Answer::allowed},    {Privacy::postEvents, 1, 0, Answer::allowed},
        {Privacy::fullDiskAccess, 2, 0, Answer::allowedOnReopen},
        {Privacy::inputMonitoring, 0, 1, Answer::denied},
    };
    for (const auto& row : fresh)
        EXPECT_EQ(Codes::freshAnswer(row.privacy, row.inProcess, row.fresh), row.answer)
            << serviceName(row.privacy) << " " << row.inProcess << "/" << row.fresh;

    const std::pair<Answer, const char*> raw[] = {{Answer::allowed, "allowed"},
                                                  {Answer::denied, "denied"},
                                                  {Answer::notAsked, "not asked"},
                                                  {Answer::allowedOnReopen, "allowed on reopen"},
                                                  {Answer::unknown, "unknown"}};
    for (const auto& [answer, text] : raw) EXPECT_EQ(rawValue(answer), text);
}

TEST(PrivacyCodes, CodesParseAsDecimalWithinThirtyTwoBits) {
    const std::pair<const char*, std::optional<int>> rows[] = {
        {"0", 0},           {"-1", -1},          {"+2", 2},          {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN}, {"2147483648", std::nullopt}, {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt},
        {"+-1", std::nullopt}, {"1x", std::nullopt}, {"0x1", std::nullopt}, {"one", std::nullopt},
        {" 1", std::nullopt}, {"1.0", std::nullopt}};
    for (const auto& [text, code] : rows) EXPECT_EQ(Codes::parseCode(text), code) << '"' << text << '"';
}

std::string tenLines(int code = 0) {
    std::string text;
    for (Privacy privacy : allPrivacies) text += std::string(serviceName(privacy)) + " " + std::to_string(code) + "\n";
    return text;
}

TEST(PrivacyCodes, ProbeParserKeepsOnlyWellFormedLines) {
    struct Row {
        const char* what;
        std::string output;
        std::map<Privacy, int> codes;
    };
    const Row rows[] = {
        {"empty", "", {}},
        {"one good line", "kTCCServiceCamera 0\n", {{Privacy::camera, 0}}},
        {"no final newline", "kTCCServiceCamera -1", {{Privacy::camera, -1}}},
        {"tabs and runs of blanks", "\tkTCCServiceCamera \t 1\t\n\n\n  kTCCServiceMotion  +2  \n",
         {{Privacy::camera, 1}, {Privacy::motion, 2}}},
        {"three pieces", "kTCCServiceCamera 0 extra\n", {}},
        {"one piece", "kTCCServiceCamera\n", {}},
        {"unknown service", "kTCCServiceCalendar 0\n", {}},
        {"non-numeric", "kTCCServiceCamera yes\n", {}},
        {"out of range", "kTCCServiceCamera 4294967296\n", {}},
        {"other whitespace splits nothing", "kTCCServiceCamera\v0\nkTCCServiceMotion\r0\n", {}},
        {"carriage return ends no line", "kTCCServiceCamera 0\r\n", {}},
        {"a later line replaces", "kTCCServiceCamera 0\nkTCCServiceCamera 1\n", {{Privacy::camera, 1}}},
    };
    for (const auto& row : rows) EXPECT_EQ(Codes::parseProbeOutput(row.output), row.codes) << row.what;
    EXPECT_EQ(Codes::parseProbeOutput(tenLines(2)).size(), 10u);
}

TEST(PrivacyCodes, ProbeOutputIsTenLinesInTableOrder) {
    TestSupport::VirtualTime time;
    FakeServices services(time);
    services.codes["kTCCServiceCamera"] = 0;
    services.codes["kTCCServiceMicrophone"] = 1;
    services.codes["kTCCServiceSystemPolicyAllFiles"] = -1;
    EXPECT_EQ(Codes::probeOutput(Source::preflight, services),
              "kTCCServiceAccessibility 2\nkTCCServicePostEvent 2\nkTCCServiceListenEvent 2\n"
              "kTCCServiceAudioCapture 2\nkTCCServiceScreenCapture 2\nkTCCServiceMicrophone 1\n"
              "kTCCServiceCamera 0\nkTCCServiceSpeechRecognition 2\nkTCCServiceMotion 2\n"
              "kTCCServiceSystemPolicyAllFiles -1\n");
    // In public mode a probe has asked for nothing: a "no" reads 2.
    services.trusted = true;
    services.statuses[Subject::video] = 3;
    services.statuses[Subject::audio] = 2;
    EXPECT_EQ(Codes::probeOutput(Source::publicAPI, services),
              "kTCCServiceAccessibility 0\nkTCCServicePostEvent 2\nkTCCServiceListenEvent 2\n"
              "kTCCServiceAudioCapture -1\nkTCCServiceScreenCapture 2\nkTCCServiceMicrophone 1\n"
              "kTCCServiceCamera 0\nkTCCServiceSpeechRecognition 2\nkTCCServiceMotion 2\n"
              "kTCCServiceSystemPolicyAllFiles -1\n");
}

TEST(PrivacyCodes, OnlyTheProbeArgumentAloneMakesAProbe) {
    const std::pair<std::vector<std::string>, bool> rows[] = {
        {{"--grant-probe"}, true},
        {{}, false},
        {{"--grant-probe", "--grant-probe"}, false},
        {{"hold", "--grant-probe"}, false},
        {{"--grant-probe", "status"}, false},
        {{"--grant-probe="}, false},
        {{"--Grant-Probe"}, false},
        {{" --grant-probe"}, false},
    };
    for (const auto& [arguments, probe] : rows)
        EXPECT_EQ(Codes::isProbeLaunch(arguments), probe) << testing::PrintToString(arguments);
}

TEST(PrivacyHubSource, ChosenOnceAndLoggedByReason) {
    struct Row {
        std::optional<std::string> variable;
        bool preflight;
        Source source;
        const char* logged; // nullptr: nothing
        const char* level;
    };
    const Row rows[] = {
        {std::nullopt, true, Source::preflight, nullptr, nullptr},
        {"1", true, Source::publicAPI, "readings from the public APIs (GRANT_PUBLIC_API=1)", "warn"},
        {"1", false, Source::publicAPI, "readings from the public APIs (GRANT_PUBLIC_API=1)", "warn"},
        {"true", true, Source::preflight, nullptr, nullptr},
        {"1 ", true, Source::preflight, nullptr, nullptr},
        {"", true, Source::preflight, nullptr, nullptr},
        {std::nullopt, false, Source::publicAPI,
         "TCCAccessPreflight is gone from TCC.framework: readings fall back to the public APIs", "error"},
        {"0", false, Source::publicAPI,
         "TCCAccessPreflight is gone from TCC.framework: readings fall back to the public APIs", "error"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.variable.value_or("(unset)") + (row.preflight ? " with" : " without") + " preflight");
        CapturedLog log;
        HubOnFakes fakes;
        fakes.publicAPI = row.variable;
        fakes.services.preflightPresent = row.preflight;
        PrivacyHub hub(fakes.dependencies());
        EXPECT_EQ(hub.source(), row.source);
        fakes.publicAPI = std::nullopt; // decided already
        fakes.services.preflightPresent = !row.preflight;
        EXPECT_EQ(hub.source(), row.source);
        auto lines = log.lines();
        if (row.logged == nullptr) {
            EXPECT_TRUE(lines.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["msg"], row.logged);
        EXPECT_EQ(lines[0]["level"], row.level);
        EXPECT_EQ(lines[0]["scope"], nlohmann::json({"grant"}));
    }
}

TEST(PrivacyHubStanding, FollowsTheAnswer) {
    HubOnFakes fakes;
    fakes.services.codes = {{"kTCCServiceCamera", 0},
                            {"kTCCServiceScreenCapture", 1},
                            {"kTCCServiceMotion", 1},
                            {"kTCCServiceMicrophone", 2},
                            {"kTCCServiceSpeechRecognition", 7},
                            {"kTCCServiceAudioCapture", -1}};
    PrivacyHub hub(fakes.dependencies());
    const std::pair<Privacy, Standing> rows[] = {
        {Privacy::camera, Standing::good()},
        {Privacy::screenRecording,
         Standing::broken("Open Settings\u2026", "Off in Privacy & Security \u203a Screen & System Audio Recording.")},
        {Privacy::motion, Standing::broken("Open Settings\u2026", "Off in Privacy & Security \u203a Motion & Fitness.")},
        {Privacy::microphone, Standing::askable("Allow\u2026")},
        {Privacy::speechRecognition, Standing::askable("Allow\u2026")},
        {Privacy::systemAudio, Standing::unknown("macOS doesn't tell apps this one.")},
    };
    for (const auto& [privacy, standing] : rows) EXPECT_EQ(hub.standing(privacy), standing) << title(privacy);
}

TEST(PrivacyHubStanding, PublicModeReadsWhatThePublicReadersTell) {
    CapturedLog log;
    HubOnFakes fakes;
    fakes.publicAPI = "1";
    fakes.services.codes["kTCCServiceSystemPolicyAllFiles"] = 0; // the preflight is not asked
    PrivacyHub hub(fakes.dependencies());
    EXPECT_EQ(hub.answer(Privacy::fullDiskAccess), Answer::unknown);
    EXPECT_EQ(hub.answer(Privacy::systemAudio), Answer::unknown);
    EXPECT_EQ(hub.standing(Privacy::fullDiskAccess), Standing::unknown("macOS doesn't tell apps this one."));
    EXPECT_EQ(hub.answer(Privacy::inputMonitoring), Answer::notAsked);
    auto reads = log.line("reads unknown");
    ASSERT_FALSE(reads.is_null());
    EXPECT_EQ(reads["fields"]["source"], "public API");
    EXPECT_EQ(reads["fields"]["code"], -1);
}

TEST(PrivacyHubRecording, FirstReadingThenOnlyChangesAreLoggedAndCounted) {
    CapturedLog log;
    HubOnFakes fakes;
    PrivacyHub hub(fakes.dependencies());
    EXPECT_EQ(hub.revision(), 0u);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked); // cached: no second line
    EXPECT_EQ(hub.revision(), 1u);

    fakes.services.codes["kTCCServiceCamera"] = 0;
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked); // until a refresh
    hub.readAll();
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::allowed);
    hub.readAll(); // nothing new
    EXPECT_EQ(hub.revision(), 2u);

    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["msg"], "reads not asked");
    EXPECT_EQ(lines[1]["msg"], "changed to allowed");
    for (const auto& [line, code] : {std::pair{lines[0], 2}, std::pair{lines[1], 0}}) {
        EXPECT_EQ(line["level"], "info");
        EXPECT_EQ(line["fields"]["grant"], "Camera");
        EXPECT_EQ(line["fields"]["service"], "kTCCServiceCamera");
        EXPECT_EQ(line["fields"]["code"], code);
        EXPECT_EQ(line["fields"]["source"], "tccd");
    }
}

TEST(PrivacyHubRecording, ObserversHearOfEachChangeOnce) {
    HubOnFakes fakes;
    PrivacyHub hub(fakes.dependencies());
    hub.answer(Privacy::motion);
    int heard = 0;
    withObservationTracking([&] { hub.answer(Privacy::motion); }, [&] { ++heard; });
    hub.readAll();
    EXPECT_EQ(heard, 0);
    fakes.services.codes["kTCCServiceMotion"] = 1;
    fakes.services.codes["kTCCServiceCamera"] = 1;
    hub.answer(Privacy::camera); // a new answer is a change too
    hub.readAll();
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(hub.revision(), 3u);
}

TEST(PrivacyHubWatching, TheTimerRefreshesEveryTwoSecondsOnlyInsideTheWindow) {
    CapturedLog log;
    HubOnFakes fakes;
    PrivacyHub hub(fakes.dependencies());
    hub.answer(Privacy::camera); // starts watching
    fakes.services.codes["kTCCServiceCamera"] = 0;
    fakes.time.advance(10s);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked); // the window is closed

    hub.watchSettings("a surface appeared");
    fakes.time.runUntilIdle(); // the refresh made at once
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::allowed);

    // Inside the window, a change shows within one tick.
    fakes.time.advance(60s);
    fakes.services.codes["kTCCServiceCamera"] = 1;
    fakes.time.advance(2s);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::denied);

    // A second reason within the window logs nothing, refreshes at once and
    // moves the end to 120 seconds from now.
    fakes.services.codes["kTCCServiceCamera"] = 2;
    hub.watchSettings("asked");
    fakes.time.runUntilIdle();
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
    fakes.time.advance(100s); // 162 s after the first reason: still open
    fakes.services.codes["kTCCServiceCamera"] = 0;
    fakes.time.advance(4s);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::allowed);

    // Closed 120 seconds after the last reason: ticks do nothing.
    fakes.time.advance(20s);
    fakes.services.codes["kTCCServiceCamera"] = 1;
    fakes.time.advance(30s);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::allowed);

    // Events open it again, each with its reason.
    fakes.events.post(Platform::didBecomeActive);
    fakes.time.runUntilIdle();
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::denied);
    fakes.time.advance(121s);
    fakes.events.post("com.apple.accessibility.api");

    std::vector<std::string> whys;
    for (const auto& line : log.lines())
        if (line["msg"] == "watching for permission changes") {
            EXPECT_EQ(line["level"], "info");
            whys.push_back(line["fields"]["why"]);
        }
    EXPECT_EQ(whys, (std::vector<std::string>{"a surface appeared", "app came forward",
                                               "macOS: Accessibility changed"}));
}

TEST(PrivacyHubWatching, AnswersNothingYetRefreshesNothing) {
    HubOnFakes fakes;
    int calls = 0;
    fakes.readings.read("notifications", [&] {
        ++calls;
        return Standing::good();
    });
    PrivacyHub hub(fakes.dependencies());
    hub.watchSettings("asked");
    fakes.time.runUntilIdle();
    EXPECT_EQ(calls, 2); // the grant cache first, every time
    EXPECT_TRUE(fakes.services.calls.empty());
}

} // namespace
