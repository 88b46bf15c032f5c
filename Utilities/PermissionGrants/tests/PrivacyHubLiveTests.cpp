#include "PrivacyHubFakes.hpp"

#include <Platform/PrivacyDatabase.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

// The probe launch as a real process on the simulated machine's privacy
// database, and a hub on that machine's services starting it.
namespace {

using namespace PermissionGrants;
using namespace PrivacyHubTesting;
using Answer = PrivacyHub::Answer;
namespace Database = Platform::PrivacyDatabase;

const std::string program = PRIVACY_PROBE_PROGRAM;

class PrivacyHubLive : public testing::Test {
protected:
    void SetUp() override {
        root = Platform::SimulatedHost::root();
        std::filesystem::remove(root / "privacy" / "tcc.json");
        Database::setEntryPoints(root, {});
    }
    void decide(std::string_view service, std::optional<Database::Value> value) {
        ASSERT_EQ(Database::store(root, program, service, {}, value, Database::bySettings), std::nullopt);
    }
    Platform::ProgramExit run(const std::vector<std::string>& arguments, const Platform::Environment& extra = {}) {
        auto environment = Platform::currentEnvironment();
        for (const auto& [name, value] : extra) environment[name] = value;
        auto ran = Platform::runProgram(program, arguments, environment);
        EXPECT_TRUE(std::holds_alternative<Platform::ProgramExit>(ran));
        return std::get<Platform::ProgramExit>(ran);
    }

    std::filesystem::path root;
};

TEST_F(PrivacyHubLive, AProbeWritesItsTenLinesAndNothingElse) {
    decide("kTCCServiceCamera", Database::Value::allowed);
    decide("kTCCServiceMicrophone", Database::Value::denied);
    decide("kTCCServiceMotion", Database::Value::restricted);
    // However loud the logging environment, a probe logs nothing.
    const Platform::Environment loud{{"LOG_LEVEL", "trace"}, {"GRANT_LOG_LEVEL", "trace"}, {"LOG_FORMAT", "json"}};
    struct Row {
        std::optional<std::string> publicAPI;
        std::string output;
    };
    const Row rows[] = {
        {std::nullopt,
         "kTCCServiceAccessibility 2\nkTCCServicePostEvent 2\nkTCCServiceListenEvent 2\nkTCCServiceAudioCapture 2\n"
         "kTCCServiceScreenCapture 2\nkTCCServiceMicrophone 1\nkTCCServiceCamera 0\nkTCCServiceSpeechRecognition 2\n"
         "kTCCServiceMotion 1\nkTCCServiceSystemPolicyAllFiles 2\n"},
        {"1",
         "kTCCServiceAccessibility 2\nkTCCServicePostEvent 2\nkTCCServiceListenEvent 2\nkTCCServiceAudioCapture -1\n"
         "kTCCServiceScreenCapture 2\nkTCCServiceMicrophone 1\nkTCCServiceCamera 0\nkTCCServiceSpeechRecognition 2\n"
         "kTCCServiceMotion 1\nkTCCServiceSystemPolicyAllFiles -1\n"},
    };
    for (const auto& row : rows) {
        auto environment = loud;
        if (row.publicAPI) environment["GRANT_PUBLIC_API"] = *row.publicAPI;
        auto exit = run({"--grant-probe"}, environment);
        EXPECT_EQ(exit.status, 0);
        EXPECT_EQ(exit.out, row.output);
        EXPECT_EQ(exit.err, "");
    }
    // Anywhere but alone, the word makes no probe.
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--grant-probe", "--grant-probe"}, {"hold", "--grant-probe"}, {"--grant-probe", "status"}, {}}) {
        auto exit = run(arguments);
        EXPECT_EQ(exit.status, 3);
        EXPECT_EQ(exit.out, "not a probe\n");
    }
}

TEST_F(PrivacyHubLive, AChangeInSettingsAppliesOnReopenAsTheFreshProbeSees) {
    TestSupport::VirtualTime time;
    auto person = Platform::makeSimulatedPerson(root, {std::nullopt, ::getpid()}, time);
    auto services = Platform::Privacy::makeSimulatedServices(root, program, {std::nullopt, ::getpid()}, *person, time);
    HubOnFakes fakes;
    auto use = fakes.dependencies();
    use.services = services.get();
    use.executable = program;
    use.probes = [] { return true; };
    PrivacyHub hub(use);
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
    EXPECT_EQ(hub.answer(Privacy::accessibility), Answer::notAsked);

    decide("kTCCServiceCamera", Database::Value::allowed);
    decide("kTCCServiceAccessibility", Database::Value::allowed);
    hub.readAll();
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::allowedOnReopen); // this process still reads its start
    EXPECT_EQ(hub.answer(Privacy::accessibility), Answer::allowed);  // read live

    // Without the disclaim, no probe: the in-process reading stands.
    Database::EntryPoints noDisclaim;
    noDisclaim.disclaim = false;
    Database::setEntryPoints(root, noDisclaim);
    decide("kTCCServiceCamera", Database::Value::denied);
    hub.readAll();
    EXPECT_EQ(hub.answer(Privacy::camera), Answer::notAsked);
}

} // namespace
