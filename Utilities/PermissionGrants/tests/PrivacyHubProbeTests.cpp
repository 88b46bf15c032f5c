#include "PrivacyHubFakes.hpp"

#include <PermissionGrants/Notifications.hpp>
#include <TestSupport/SimulationRoot.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <future>
#include <sys/stat.h>

namespace {

[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

using namespace std::chrono_literals;
using namespace PermissionGrants;
using namespace PrivacyHubTesting;
using Answer = PrivacyHub::Answer;

// A stand-in for the application's executable: a shell script that notes its
// arguments and pid beside itself and prints `output`, then runs `after`.
class ProbeProgram {
public:
    explicit ProbeProgram(const std::string& output, const std::string& after = "") {
        std::ofstream script(path());
        script << "#!/bin/sh\n"
               << "printf '%s\\n' \"$#\" \"$@\" > '" << (folder_ / "arguments").string() << "'\n"
               << "echo $$ > '" << (folder_ / "pid").string() << "'\n"
               << "printf '" << output << "'\n"
               << after << "\n";
        script.close();
        ::chmod(path().c_str(), 0755);
    }
    std::filesystem::path path() const { return folder_ / "lumra-app"; }
    std::string arguments() const { return TestSupport::contents(folder_ / "arguments"); }
    bool ran() const { return std::filesystem::exists(folder_ / "arguments"); }
    pid_t pid() const { return std::stoi(TestSupport::contents(folder_ / "pid")); }

private:
    TestSupport::TempDir folder_;
};

std::string lines(const std::map<std::string, int>& codes) {
    std::string text;
    for (Privacy privacy : allPrivacies) {
        auto found = codes.find(std::string(serviceName(privacy)));
        text += std::string(serviceName(privacy)) + " " + std::to_string(found == codes.end() ? 2 : found->second) +
                "\\n";
    }
    return text;
}

struct ProbedHub : HubOnFakes {
    explicit ProbedHub(const ProbeProgram& program) {
        probes = true;
        executable = program.path();
    }
};

TEST(PrivacyHubProbe, AFreshAllowedThatThisProcessLacksAppliesOnReopen) {
    ProbeProgram program(lines({{"kTCCServiceCamera", 0}, {"kTCCServiceAccessibility", 0}, {"kTCCServiceMotion", 1}}));
    CapturedLog log;
    ProbedHub fakes(program);
    fakes.services.codes["kTCCServiceMotion"] = 0;
    PrivacyHub hub(fakes.dependencies());
    for (Privacy privacy : {Privacy::camera, Privacy::accessibility, Privacy::motion, Privacy::microphone})
        hub.answer(privacy);
    EXPECT_FALSE(program.ran()); // a first reading is in process only

    hub.readAll();
    EXPECT_EQ(program.arguments(), "1\n--grant-probe\n");
    EXPECT_EQ(fakes.services.calls, std::vector<std::string>{"disclaim 1"});
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::allowedOnReopen);
    EXPECT_EQ(hub.answer(Privacy::accessibility), Answer::allowed);
    EXPECT_EQ(hub.answer(Privacy::motion), Answer::denied);
    EXPECT_EQ(hub.answer(Privacy::microphone), Answer::notAsked);
    EXPECT_EQ(hub.standing(Privacy::camera), Standing::broken("Reopen", "Allowed. Applies when the app reopens."));

    auto reopen = log.line("changed to allowed on reopen");
    ASSERT_FALSE(reopen.is_null());
    EXPECT_EQ(reopen["fields"], nlohmann::json({{"grant", "Camera"},
                                                {"service", "kTCCServiceCamera"},
                                                {"code", 0},
                                                {"source", "tccd, fresh process"}}));
    EXPECT_EQ(log.line("changed to denied")["fields"]["source"], "tccd, fresh process");

    bool completed = false;
    hub.ask(Privacy::camera, [&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(fakes.reopened, std::vector<std::string>{"a permission applies on reopen"});
}

TEST(PrivacyHubProbe, AnIncompleteAnswerGivesNoFreshCodes) {
    std::string nine = lines({{"kTCCServiceCamera", 0}});
    nine.erase(nine.rfind("kTCCServiceSystemPolicyAllFiles"));
    ProbeProgram program("kTCCServiceCamera 0 extra\\nkTCCServiceCalendar 0\\nkTCCServiceSystemPolicyAllFiles yes\\n"
                         "kTCCServiceSystemPolicyAllFiles 4294967296\\n" + nine);
    CapturedLog log;
    ProbedHub fakes(program);
    PrivacyHub hub(fakes.dependencies());
    hub.answer(Privacy::camera);
    hub.readAll();
    EXPECT_TRUE(program.ran());
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
    auto warning = log.line("fresh probe answered 9 of 10");
    ASSERT_FALSE(warning.is_null());
    EXPECT_EQ(warning["level"], "warn");
}

TEST(PrivacyHubProbe, AProbeThatHangsIsKilledAtItsDeadline) {
    ProbeProgram program("kTCCServiceCamera 0\\nkTCCServiceMotion 0\\nkTCCServiceMicrophone 0\\n", "exec sleep 30");
    CapturedLog log;
    ProbedHub fakes(program);
    fakes.probeLimit = 300ms;
    PrivacyHub hub(fakes.dependencies());
    hub.answer(Privacy::camera);
    auto began = std::chrono::steady_clock::now();
    hub.readAll();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
    auto warning = log.line("fresh probe answered 3 of 10");
    ASSERT_FALSE(warning.is_null());
    EXPECT_EQ(warning["fields"], nlohmann::json({{"timedOut", true}}));
    // Killed and reaped: no such process any more.
    EXPECT_EQ(::kill(program.pid(), 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(PrivacyHubProbe, NoProbeRunsWithoutEverythingItNeeds) {
    struct Row {
        const char* what;
        std::function<void(ProbedHub&)> set;
        const char* logged; // once, however many refreshes
        const char* level;
        std::optional<int> error;
    };
    const Row rows[] = {
        {"probes not enabled", [](ProbedHub& fakes) { fakes.probes = false; }, nullptr, nullptr, std::nullopt},
        {"no executable", [](ProbedHub& fakes) { fakes.executable = std::nullopt; }, nullptr, nullptr, std::nullopt},
        {"disclaim missing", [](ProbedHub& fakes) { fakes.services.disclaimPresent = false; },
         "responsibility_spawnattrs_setdisclaim is gone: no fresh probe, changes show on reopen", "error",
         std::nullopt},
        {"disclaim refused", [](ProbedHub& fakes) { fakes.services.disclaimResult = 22; },
         "fresh probe did not start", "warn", 1},
        {"executable gone", [](ProbedHub& fakes) { fakes.executable = "/nonexistent/lumra-app"; },
         "fresh probe did not start", "warn", 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ProbeProgram program(lines({{"kTCCServiceCamera", 0}}));
        CapturedLog log;
        ProbedHub fakes(program);
        row.set(fakes);
        PrivacyHub hub(fakes.dependencies());
        hub.answer(Privacy::camera);
        hub.readAll();
        hub.readAll();
        EXPECT_FALSE(program.ran());
        EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
        std::vector<nlohmann::json> logged;
        for (auto& line : log.lines())
            if (line["level"] != "info") logged.push_back(line);
        if (row.logged == nullptr) {
            EXPECT_TRUE(logged.empty());
            continue;
        }
        bool once = std::string(row.level) == "error";
        ASSERT_EQ(logged.size(), once ? 1u : 2u);
        EXPECT_EQ(logged[0]["msg"], row.logged);
        EXPECT_EQ(logged[0]["level"], row.level);
        if (row.error) {
            EXPECT_EQ(logged[0]["fields"], nlohmann::json({{"errno", *row.error}}));
        }
    }
}

// A refresh re-reads the grant cache, whose notifications reader waits for
// the notification centre's answer on the platform's completion queue: the
// hub's own queue must not be that one, or every refresh would wait out the
// reader's two seconds and read "did not answer".
TEST(PrivacyHubQueue, ARefreshWithNotificationsCachedGetsTheirAnswer) {
    TestSupport::FakeNotificationCenter center(Platform::globalQueue());
    center.settings = {2, 2, 1};
    auto reader = [&] { return Notifications::standing(Notifications::reach(2.0, center)); };
    HubOnFakes fakes;
    auto use = fakes.dependencies();
    auto queue = PrivacyHub::makeQueue();
    use.queue = queue.get();
    PrivacyHub hub(use);
    EXPECT_EQ(fakes.readings.read("notifications", reader), Standing::good());
    hub.answer(Privacy::camera);

    center.settings = {1, 0, 0};
    std::promise<void> refreshed;
    queue->async([&] {
        hub.readAll();
        refreshed.set_value();
    });
    ASSERT_EQ(refreshed.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_EQ(fakes.readings.read("notifications", reader),
              Standing::broken("Open System Settings\u2026",
                               "Notifications are off in System Settings. macOS never asks twice."));
    EXPECT_EQ(center.settingsReads, 2);
}

} // namespace
