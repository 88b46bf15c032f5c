// grantlab's command line: every GRANT word, the install scopes and each
// refusal, word for word; then the real program's exit statuses.

#include <Arguments.hpp>

#include <TestSupport/Subprocess.hpp>

#include <gtest/gtest.h>

namespace {

using namespace GrantLab;
using AppInstallation::Scope;
using PermissionGrants::Privacy;

const std::vector<Scope> both{Scope::everyone, Scope::me};

TEST(GrantLabArguments, EveryGrantWordNamesItsGrant) {
    struct Case {
        std::vector<std::string> arguments;
        Command command;
    } const cases[] = {
        {{"read", "accessibility", "postEvents", "inputMonitoring", "systemAudio", "screenRecording"},
         {Mode::read,
          {Privacy::accessibility, Privacy::postEvents, Privacy::inputMonitoring, Privacy::systemAudio,
           Privacy::screenRecording}}},
        {{"ask", "microphone", "camera", "speechRecognition", "motion", "fullDiskAccess"},
         {Mode::ask,
          {Privacy::microphone, Privacy::camera, Privacy::speechRecognition, Privacy::motion,
           Privacy::fullDiskAccess}}},
        {{"watch", "automation:app.lumra.idle", "notifications", "camera"},
         {Mode::watch, {AutomationOf{"app.lumra.idle"}, OwnNotifications{}, Privacy::camera}}},
        // Each job may install wherever it may run: the daemon for everyone only.
        {{"read", "agent", "daemon", "login-item"},
         {Mode::read,
          {BackgroundJob{JobName::agent, both}, BackgroundJob{JobName::daemon, {Scope::everyone}},
           BackgroundJob{JobName::loginItem, both}}}},
        // The option goes anywhere, applies to every job grant, keeps its order.
        {{"ask", "agent", "--install-for", "me,everyone", "login-item"},
         {Mode::ask,
          {BackgroundJob{JobName::agent, {Scope::me, Scope::everyone}},
           BackgroundJob{JobName::loginItem, {Scope::me, Scope::everyone}}}}},
        {{"ask", "--install-for", "everyone", "daemon", "agent", "camera"},
         {Mode::ask,
          {BackgroundJob{JobName::daemon, {Scope::everyone}}, BackgroundJob{JobName::agent, {Scope::everyone}},
           Privacy::camera}}},
        {{"read", "--install-for", "me", "agent"}, {Mode::read, {BackgroundJob{JobName::agent, {Scope::me}}}}},
        // A grant named twice is read twice.
        {{"read", "camera", "camera"}, {Mode::read, {Privacy::camera, Privacy::camera}}},
        {{"read", "custom:Lab grant"}, {Mode::read, {LabGrant{"Lab grant"}}}},
        // The views: required marks, the letter case, a welcome page; a
        // custom title is taken as given, escapes and all.
        {{"sheet", "--lower", "required:camera", "custom:Hello World", "required:notifications"},
         {Mode::sheet, {Privacy::camera, LabGrant{"Hello World"}, OwnNotifications{}}, {0, 2}, true}},
        {{"steps", "required:agent", "--welcome", "custom:a\x1b[2Jb\nc"},
         {Mode::steps, {BackgroundJob{JobName::agent, both}, LabGrant{"a\x1b[2Jb\nc"}}, {0}, false, true}},
        {{"chip", "custom:required:x", "--install-for", "me", "required:login-item"},
         {Mode::chip, {LabGrant{"required:x"}, BackgroundJob{JobName::loginItem, {Scope::me}}}, {1}}},
        {{"login-switch"}, {Mode::loginSwitch, {}}},
        {{"login-switch", "--lower"}, {Mode::loginSwitch, {}, {}, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        EXPECT_EQ(parse(c.arguments), Parsed(c.command));
    }
    for (Privacy privacy : PermissionGrants::allPrivacies) EXPECT_FALSE(caseName(privacy).empty());
}

TEST(GrantLabArguments, RefusalsSayWhatIsWrong) {
    const std::string scopes = ": use everyone, me or everyone,me";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    } const cases[] = {
        {{}, "no command given"},
        {{"list", "camera"}, "unknown command 'list'"},
        {{"read"}, "read needs at least one GRANT"},
        {{"watch", "--install-for", "me"}, "watch needs at least one GRANT"},
        {{"read", "Camera"}, "unknown grant 'Camera'"},
        {{"read", "kTCCServiceCamera"}, "unknown grant 'kTCCServiceCamera'"},
        {{"read", "automation"}, "unknown grant 'automation'"},
        {{"read", "automation:"},
         "'automation:' names no application: write automation:ID, as in automation:com.example.app"},
        {{"read", "automation:a b"},
         "'automation:a b' names no application: write automation:ID, as in automation:com.example.app"},
        {{"read", "automation:a\tb"},
         "'automation:a\tb' names no application: write automation:ID, as in automation:com.example.app"},
        {{"read", "--verbose", "camera"}, "unknown option '--verbose'"},
        {{"read", "agent", "--install-for"}, "--install-for needs everyone, me or everyone,me"},
        {{"read", "agent", "--install-for", ""}, "unknown install scope ''" + scopes},
        {{"read", "agent", "--install-for", "all"}, "unknown install scope 'all'" + scopes},
        {{"read", "agent", "--install-for", "everyone,"}, "unknown install scope ''" + scopes},
        {{"read", "agent", "--install-for", "me,me"}, "install scope 'me' given twice"},
        {{"read", "agent", "--install-for", "me", "--install-for", "me"}, "--install-for given twice"},
        {{"read", "--install-for", "me", "camera"}, "--install-for goes with a job grant: agent, daemon or login-item"},
        {{"ask", "daemon", "--install-for", "me"}, "the daemon installs for everyone only, never for me"},
        {{"ask", "daemon", "--install-for", "everyone,me"}, "the daemon installs for everyone only, never for me"},
        {{"serve", "now"}, "serve takes no arguments"},
        {{"sheet"}, "sheet needs at least one GRANT"},
        {{"steps", "--welcome"}, "steps needs at least one GRANT"},
        {{"read", "--lower", "camera"}, "--lower goes with sheet, steps, chip or login-switch"},
        {{"sheet", "--welcome", "camera"}, "--welcome goes with steps"},
        {{"watch", "--welcome", "camera"}, "--welcome goes with steps"},
        {{"login-switch", "camera"}, "login-switch takes no GRANT"},
        {{"login-switch", "--install-for", "me"}, "--install-for goes with a job grant: agent, daemon or login-item"},
        {{"read", "required:camera"}, "'required:camera': only sheet, steps and chip mark a grant required"},
        {{"sheet", "custom:"}, "'custom:' has no title: write custom:TITLE"},
        {{"sheet", "required:"}, "'required:' names no grant: write required:GRANT"},
        {{"sheet", "required:required:camera"}, "unknown grant 'required:camera'"},
        {{"chip", "required:custom:"}, "'custom:' has no title: write custom:TITLE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(parse(c.arguments), Parsed(UsageError{c.message}));
    }
}

TEST(GrantLabArguments, HelpAndServe) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"help"}, {"read", "--help"}, {"ask", "camera", "-h"}})
        EXPECT_EQ(parse(arguments), Parsed(Help{})) << arguments.front();
    EXPECT_EQ(parse({"serve"}), Parsed(Serve{}));
}

// The real program: usage errors exit 2 with the message and a hint, help
// exits 0; neither reads anything first.
TEST(GrantLabArguments, TheProgramExitsTwoOnAUsageError) {
    auto refused = TestSupport::runProcess(GRANTLAB_EXE, {"read", "camra"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "grantlab: unknown grant 'camra'\nTry 'grantlab --help'.\n");

    auto none = TestSupport::runProcess(GRANTLAB_EXE, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "grantlab: no command given\nTry 'grantlab --help'.\n");

    // The views need a terminal; the test's pipes are none.
    for (std::string mode : {"sheet", "steps", "chip"}) {
        auto view = TestSupport::runProcess(GRANTLAB_EXE, {mode, "custom:Lab grant"});
        EXPECT_EQ(view.status, 2);
        EXPECT_EQ(view.out, "");
        EXPECT_EQ(view.err, "grantlab: " + mode + " needs a terminal\n");
    }
    auto loginSwitch = TestSupport::runProcess(GRANTLAB_EXE, {"login-switch"});
    EXPECT_EQ(loginSwitch.status, 2);
    EXPECT_EQ(loginSwitch.err, "grantlab: login-switch needs a terminal\n");

    auto help = TestSupport::runProcess(GRANTLAB_EXE, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, std::string(usageText));
    EXPECT_EQ(help.err, "");
}

} // namespace
