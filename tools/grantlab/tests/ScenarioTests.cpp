// GrantLab.app on a fresh simulated Mac, end to end: real processes read,
// ask and watch privacy permissions, automation consent and background
// services while the person and the settings change them underneath.

#include <Platform/Launchd.hpp>
#include <TestSupport/IdleApp.hpp>
#include <TestSupport/LabMachine.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HasSubstr;
using testing::Not;
using TestSupport::eventually;
using TestSupport::Finished;

const std::string grantlabID = "app.lumra.grantlab";
const std::string signer = "Developer ID Application: Lumra Project (LUMRA00001)";
const std::string settingsURL = "x-apple.systempreferences:com.apple.preference.security?";
const std::vector<std::string> services{
    "kTCCServiceAccessibility", "kTCCServicePostEvent",        "kTCCServiceListenEvent",
    "kTCCServiceAudioCapture",  "kTCCServiceScreenCapture",    "kTCCServiceMicrophone",
    "kTCCServiceCamera",        "kTCCServiceSpeechRecognition", "kTCCServiceMotion",
    "kTCCServiceSystemPolicyAllFiles"};
const std::string steer =
    "In Login Items, under Background App Activity, turn on GrantLab (it may be listed as “Lumra Project”).";
constexpr auto patience = 30s;

std::string logged(const std::string& message) { return "\"msg\":\"" + message + "\""; }

// A probe's answer: every service not asked yet, but those given.
std::string probeAnswer(const std::map<std::string, int>& codes) {
    std::string text;
    for (const auto& service : services)
        text += service + " " + std::to_string(codes.contains(service) ? codes.at(service) : 2) + "\n";
    return text;
}

// The lab machine (the hub's 2-second refresh takes 200 ms there, its
// two-minute window 12 s).
struct Machine : TestSupport::LabMachine {
    Machine() : LabMachine(LUMRA_SIM_EXE, GRANTLAB_APP) {}

    std::string macPath(const fs::path& path) const {
        std::string text = path.string();
        return text.starts_with(root.string() + "/") ? text.substr(root.string().size()) : text;
    }
    std::map<std::string, std::string> environment(const std::map<std::string, std::string>& more = {}) const {
        auto all = SimMachine::environment();
        all["LOG_LEVEL"] = "info";
        for (const auto& [name, value] : more) all[name] = value;
        return all;
    }
    Finished grantlab(const std::vector<std::string>& arguments, const fs::path& app,
                      const std::map<std::string, std::string>& more = {}) const {
        return TestSupport::runProcess(app / "Contents/MacOS/grantlab", arguments, environment(more), 60s);
    }
    Finished grantlab(const std::vector<std::string>& arguments) const { return grantlab(arguments, lab); }
    Finished run(const fs::path& program, const std::vector<std::string>& arguments) const {
        return TestSupport::runProcess(program, arguments, environment(), 60s);
    }
    std::vector<std::string> openedURLs() const { return TestSupport::lines(root / "opened-urls.log"); }
    // The prompts the person was shown, of one kind.
    std::vector<nlohmann::json> prompts(const std::string& kind) const {
        std::vector<nlohmann::json> shown;
        for (const auto& line : TestSupport::lines(root / "person/log.jsonl")) {
            auto entry = nlohmann::json::parse(line, nullptr, false);
            if (entry.value("event", "") == "prompt" && entry.value("kind", "") == kind) shown.push_back(entry);
        }
        return shown;
    }

    // Opens the app as a person does, with these arguments; answers the new
    // process, whose output goes to open/<name>.log.
    pid_t open(const fs::path& app, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& more = {}) const {
        std::vector<std::string> all{"-n", macPath(app)};
        if (!arguments.empty()) all.push_back("--args");
        all.insert(all.end(), arguments.begin(), arguments.end());
        auto opened = TestSupport::runProcess(root / "usr/bin/open", all, environment(more));
        EXPECT_EQ(opened.status, 0) << opened.err;
        auto launches = TestSupport::lines(root / "open/launches.jsonl");
        return launches.empty() ? 0 : nlohmann::json::parse(launches.back()).value("pid", 0);
    }
    std::string openLog() const { return TestSupport::contents(root / "open/GrantLab.log"); }
    bool shows(const std::string& text) const {
        return eventually([&] { return openLog().find(text) != std::string::npos; }, patience);
    }
    void stop(pid_t pid) const {
        ::kill(pid, SIGTERM);
        EXPECT_TRUE(eventually([&] { return TestSupport::hasEnded(pid); }, patience));
    }
};

// A probe launch prints the ten codes in table order and nothing else, from
// every main executable that serves one; "--grant-probe" among other
// arguments is no probe.
TEST(GrantLab, ProbeLaunchesPrintTenLines) {
    Machine machine;
    machine.ok({"tcc", "allow", "kTCCServiceCamera", grantlabID});
    machine.ok({"tcc", "deny", "kTCCServiceMicrophone", grantlabID});
    fs::path lumra = LUMRA_APP;
    // Lumra.app is hardened without the camera and microphone entitlements:
    // nothing was ever stored for it, so its probe reads them not asked.
    const std::string unentitled = probeAnswer({});
    struct Case {
        fs::path program;
        std::string answer;
    } const cases[] = {
        {machine.lab / "Contents/MacOS/grantlab",
         probeAnswer({{"kTCCServiceCamera", 0}, {"kTCCServiceMicrophone", 1}})},
        {lumra / "Contents/MacOS/lumra-app", unentitled},
        {lumra / "Contents/MacOS/lumrad", unentitled},
        {lumra / "Contents/MacOS/lumra", unentitled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        auto probe = machine.run(c.program, {"--grant-probe"});
        EXPECT_EQ(probe.status, 0);
        EXPECT_EQ(probe.out, c.answer);
        EXPECT_EQ(probe.err, "");
    }
    auto mixed = machine.grantlab({"--grant-probe", "read", "camera"});
    EXPECT_EQ(mixed.status, 2);
    EXPECT_EQ(mixed.out, "");
    EXPECT_EQ(mixed.err, "grantlab: unknown command '--grant-probe'\nTry 'grantlab --help'.\n");
}

// The app keeps the permissions it started with; the fresh probe sees a
// change made in settings, so camera reads "allowed on reopen" until the app
// reopens, while accessibility, which a process reads live, is just allowed.
TEST(GrantLab, ASettingsChangeAppliesOnReopen) {
    Machine machine;
    pid_t watching = machine.open(machine.lab, {"watch", "camera", "accessibility"});
    EXPECT_TRUE(machine.shows("Camera  askable  Allow…\nAccessibility  askable  Allow…\n")) << machine.openLog();

    machine.ok({"tcc", "allow", "kTCCServiceCamera", grantlabID});
    machine.ok({"tcc", "allow", "kTCCServiceAccessibility", grantlabID});
    EXPECT_TRUE(machine.shows("Camera  broken  Reopen  Allowed. Applies when the app reopens.\n"))
        << machine.openLog();
    EXPECT_TRUE(machine.shows("Accessibility  good\n")) << machine.openLog();
    EXPECT_THAT(machine.openLog(), HasSubstr(logged("watching for permission changes")));
    EXPECT_THAT(machine.openLog(), HasSubstr(logged("changed to allowed on reopen")));
    // A process started after the change reads it at once.
    EXPECT_EQ(machine.grantlab({"read", "camera"}).out, "Camera  good\n");
    machine.stop(watching);

    pid_t reopened = machine.open(machine.lab, {"watch", "camera"});
    EXPECT_TRUE(machine.shows("Camera  good\n"));
    machine.stop(reopened);
}

// Denied: asking opens its pane. A hardened copy without the camera or
// microphone entitlement logs why it can never be granted and is denied
// without a prompt or an entry in the database; the build's own copy has both
// entitlements and prompts the person.
TEST(GrantLab, AskingDeniedAndUnentitledPermissions) {
    Machine machine;
    const std::string offCamera = "Camera  broken  Open Settings…  Off in Privacy & Security › Camera.\n";
    machine.ok({"tcc", "deny", "kTCCServiceCamera", grantlabID});
    auto denied = machine.grantlab({"ask", "camera"});
    EXPECT_EQ(denied.status, 0) << denied.err;
    EXPECT_EQ(denied.out, offCamera);
    EXPECT_THAT(denied.err, HasSubstr(logged("asked again: opening its pane")));
    EXPECT_THAT(machine.openedURLs(), testing::ElementsAre(settingsURL + "Privacy_Camera"));
    machine.ok({"tcc", "reset", "kTCCServiceCamera", grantlabID});

    fs::path unentitled = machine.home / "Applications/NoDevices.app";
    TestSupport::copyBundle(GRANTLAB_APP, unentitled);
    machine.ok({"sign", unentitled.string(), "--identity", signer, "--hardened"});
    machine.rules(R"([{"kind":"privacy","answer":"allow"}])");
    auto refused = machine.grantlab({"ask", "microphone", "camera"}, unentitled);
    EXPECT_THAT(refused.err, HasSubstr(logged("the microphone can never be granted: the hardened runtime needs "
                                              "com.apple.security.device.audio-input in this app's entitlements, "
                                              "and macOS denies without asking")));
    EXPECT_THAT(refused.err, HasSubstr(logged("the camera can never be granted: the hardened runtime needs "
                                              "com.apple.security.device.camera in this app's entitlements, and "
                                              "macOS denies without asking")));
    EXPECT_THAT(refused.err, HasSubstr(R"("answered":"denied")"));
    EXPECT_TRUE(machine.prompts("privacy").empty());
    EXPECT_EQ(machine.sim({"tcc", "list"}).out, "no entries\n");

    auto allowed = machine.grantlab({"ask", "microphone"});
    EXPECT_EQ(allowed.out, "Microphone  good\n");
    EXPECT_EQ(machine.prompts("privacy").size(), 1u);
}

// Public readings, asked for or forced when the private preflight is gone,
// and each other missing entry point with its fallback.
TEST(GrantLab, MissingEntryPointsFallBack) {
    Machine machine;
    const std::string publicReadings = "Full Disk Access  unknown  macOS doesn't tell apps this one.\n"
                                       "System Audio Recording  unknown  macOS doesn't tell apps this one.\n"
                                       "Camera  askable  Allow…\n";
    const std::vector<std::string> publicGrants{"read", "fullDiskAccess", "systemAudio", "camera"};
    auto forced = machine.grantlab(publicGrants, machine.lab, {{"GRANT_PUBLIC_API", "1"}});
    EXPECT_EQ(forced.out, publicReadings);
    EXPECT_THAT(forced.err, HasSubstr(logged("readings from the public APIs (GRANT_PUBLIC_API=1)")));
    // Any other value is ignored.
    auto ignored = machine.grantlab(publicGrants, machine.lab, {{"GRANT_PUBLIC_API", "yes"}});
    EXPECT_EQ(ignored.out, "Full Disk Access  askable  Allow…\nSystem Audio Recording  askable  Allow…\n"
                           "Camera  askable  Allow…\n");

    machine.ok({"tcc", "absent", "preflight"});
    auto fallen = machine.grantlab(publicGrants);
    EXPECT_EQ(fallen.out, publicReadings);
    EXPECT_THAT(fallen.err,
                HasSubstr(logged("TCCAccessPreflight is gone from TCC.framework: readings fall back to the public APIs")));
    machine.ok({"tcc", "present", "preflight"});

    // Without the private request, asking opens the permission's pane.
    machine.ok({"tcc", "absent", "request"});
    auto paned = machine.grantlab({"ask", "systemAudio"});
    EXPECT_EQ(paned.out, "System Audio Recording  askable  Allow…\n");
    EXPECT_THAT(machine.openedURLs(), testing::ElementsAre(settingsURL + "Privacy_AudioCapture"));

    // Without the disclaim, or with one that fails, no fresh probe runs.
    struct Case {
        std::vector<std::string> setUp;
        std::string message;
    } const probes[] = {
        {{"tcc", "absent", "disclaim"}, "responsibility_spawnattrs_setdisclaim is gone: no fresh probe, changes show on reopen"},
        {{"tcc", "disclaim-fails", "1"}, "fresh probe did not start"},
    };
    for (const auto& c : probes) {
        SCOPED_TRACE(c.message);
        machine.ok(c.setUp);
        pid_t watching = machine.open(machine.lab, {"watch", "camera"});
        EXPECT_TRUE(machine.shows(logged(c.message))) << machine.openLog();
        machine.stop(watching);
        machine.ok({"tcc", "present", "disclaim"});
        machine.ok({"tcc", "disclaim-fails", "off"});
    }
}

// Automation of a target: undecided while it does not run, asked and
// allowed while it runs, then revoked in settings: still allowed for the
// rest of this run, refused in the next, which opens the pane when asked.
TEST(GrantLab, AutomationFollowsTheTargetAndThisRunsConsent) {
    Machine machine;
    const std::string target = "app.lumra.idle", grant = "automation:" + target;
    fs::path idle = machine.home / "Applications/Idle.app";
    machine.ok({"bundle", "make", idle.string(), "--identifier", target, "--program", TestSupport::idleApp().string()});
    const std::string askable = "Automation of " + target + "  askable  Allow…\n";
    EXPECT_EQ(machine.grantlab({"read", grant}).out, askable);
    pid_t running = machine.open(idle, {});
    EXPECT_TRUE(eventually([&] { return !TestSupport::hasEnded(running); }));
    EXPECT_EQ(machine.grantlab({"read", grant}).out, askable);

    // The run asks, then waits for the person on its notifications.
    machine.rules(R"([{"kind":"automation","answer":"allow"}])");
    Finished asked;
    std::thread asking([&] { asked = machine.grantlab({"ask", grant, "notifications"}); });
    EXPECT_TRUE(eventually([&] { return machine.prompts("notifications").size() == 1; }, patience));
    machine.ok({"tcc", "deny", "kTCCServiceAppleEvents", grantlabID, "--target", target});
    auto waiting = machine.prompts("notifications");
    if (!waiting.empty()) machine.ok({"answer", waiting[0].value("id", ""), "allow"});
    asking.join();
    EXPECT_EQ(asked.out, "Automation of " + target + "  good\nNotifications  good\n");
    EXPECT_THAT(asked.err, HasSubstr(logged("asked macOS")));
    EXPECT_EQ(machine.prompts("automation").size(), 1u);

    auto refused = machine.grantlab({"ask", grant});
    EXPECT_EQ(refused.out, "Automation of " + target + "  broken  Open Settings…  Off in Privacy & Security › Automation.\n");
    EXPECT_THAT(machine.openedURLs(), testing::ElementsAre(settingsURL + "Privacy_Automation"));
    EXPECT_EQ(machine.prompts("automation").size(), 1u);
    machine.stop(running);
}

// The agent through the person's approval, the daemon left waiting for it
// until approved by hand, the login item at once.
TEST(GrantLab, BackgroundServicesThroughApproval) {
    Machine machine;
    machine.ok({"background", "policy", "agent", "ask", "approve", "3"});
    auto before = machine.grantlab({"read", "agent", "daemon", "login-item"});
    EXPECT_EQ(before.status, 0) << before.err;
    EXPECT_EQ(before.out, "Background agent  askable  Turn On\n"
                          "Background daemon  askable  Turn On\n"
                          "Login item  askable  Turn On\n");

    auto asked = machine.grantlab({"ask", "agent", "daemon", "login-item"});
    EXPECT_EQ(asked.status, 0) << asked.err;
    EXPECT_EQ(asked.out, "Background agent  good\n"
                         "Background daemon  broken  Open Login Items  Waiting for your OK. " + steer + "\n"
                         "Login item  good\n");
    // Waiting for approval is no failure to turn on.
    EXPECT_THAT(asked.err, Not(HasSubstr(logged("could not turn on"))));

    machine.ok({"background", "approve", grantlabID, grantlabID + ".daemon.plist"});
    EXPECT_TRUE(eventually([&] { return machine.grantlab({"read", "daemon"}).out == "Background daemon  good\n"; },
                           patience));
    EXPECT_EQ(machine.grantlab({"read", "agent", "login-item"}).out, "Background agent  good\nLogin item  good\n");

    // Lumra.app's own three grants are its own app's, apart from GrantLab's.
    fs::path lumra = machine.root / "Applications/Lumra.app";
    TestSupport::copyBundle(LUMRA_APP, lumra);
    auto grants = machine.run(lumra / "Contents/MacOS/lumra", {"grants"});
    EXPECT_EQ(grants.status, 0) << grants.err;
    EXPECT_EQ(grants.out, "Background service  askable  Turn On\n"
                          "Login item  askable  Turn On\n"
                          "Notifications  askable  Allow…\n");
}

// From a download, a job grant must move the app first: with a copy already
// in Applications it opens that one; with none, the person picks the scope
// in the alert and the app moves into ~/Applications, where the agent runs.
TEST(GrantLab, MovingIntoApplicationsThroughTheInstallScopeAlert) {
    Machine machine;
    fs::path download = machine.home / "Downloads/GrantLab.app";
    TestSupport::copyBundle(GRANTLAB_APP, download);
    auto misplaced = machine.grantlab({"read", "agent", "daemon"}, download);
    EXPECT_EQ(misplaced.out, "Background agent  broken  Open in Applications  Only works from the Applications folder.\n"
                             "Background daemon  broken  Open in Applications  Only works installed for everyone, "
                             "in Applications.\n");
    fs::remove_all(machine.lab);
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    } const rows[] = {
        {{"read", "agent"}, "Background agent  broken  Move to Applications…  Only works from the Applications folder."},
        {{"read", "--install-for", "me", "agent"},
         "Background agent  broken  Move to Applications  Only works from the Applications folder."},
        {{"read", "daemon"},
         "Background daemon  broken  Move to Applications  Only works installed for everyone, in Applications."},
    };
    for (const auto& row : rows) EXPECT_EQ(machine.grantlab(row.arguments, download).out, row.line + "\n");

    machine.rules(R"([{"kind":"alert","answer":"Just for Me"}])");
    auto asked = machine.grantlab({"ask", "agent"}, download);
    EXPECT_EQ(asked.status, 0) << asked.err;
    auto alerts = machine.prompts("alert");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].value("subject", ""), "Install GrantLab for everyone on this Mac, or just for you?");
    EXPECT_EQ(alerts[0]["choices"], nlohmann::json({"For Everyone on This Mac", "Just for Me", "Cancel"}));

    fs::path mine = machine.home / "Applications/GrantLab.app";
    EXPECT_TRUE(eventually([&] { return machine.grantlab({"read", "agent"}, mine).out == "Background agent  good\n"; },
                           patience));
    EXPECT_THAT(machine.sim({"background", "list"}).out, HasSubstr("\t1 enabled\t" + mine.string() + "\n"));
    // The copy opened there turned the agent on and left.
    EXPECT_TRUE(eventually([&] {
        auto running = machine.guard.running();
        return running.size() == 1 && running[0].executable == (fs::canonical(mine) / "Contents/MacOS/grantlab").string();
    }, patience));
}

} // namespace
