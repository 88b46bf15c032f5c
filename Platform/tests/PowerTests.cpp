#include <Platform/Power.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace Power = Platform::Power;
using nlohmann::json;
using TestSupport::writeFile;

class SimulatedPower : public testing::Test {
protected:
    const std::filesystem::path& root() const { return folder.path(); }
    TestSupport::TempDir folder;
};

TEST_F(SimulatedPower, AFreshMachineIsALaptopOnACThatMayFallAsleep) {
    auto sources = Power::powerSources(root());
    ASSERT_TRUE(sources.has_value());
    ASSERT_EQ(sources->size(), 1u);
    const json& battery = sources->front();
    EXPECT_EQ(battery["Power Source State"], "AC Power");
    EXPECT_EQ(battery["Current Capacity"], 100);
    EXPECT_EQ(battery["Max Capacity"], 100);
    EXPECT_EQ(battery["Is Charging"], false);
    EXPECT_FALSE(Power::lowPowerMode(root()));
    EXPECT_EQ(Power::thermalState(root()), Power::ThermalState::nominal);
    EXPECT_FALSE(Power::mainDisplayAsleep(root()));
    EXPECT_FALSE(Power::sleepDisabled(root()));
    EXPECT_TRUE(Power::assertions(root()).empty());
}

TEST_F(SimulatedPower, SettingsAreKeptIndependently) {
    EXPECT_TRUE(Power::setSleepDisabled(true, root()));
    EXPECT_TRUE(Power::setLowPowerMode(true, root()));
    EXPECT_TRUE(Power::setThermalState(Power::ThermalState::critical, root()));
    EXPECT_TRUE(Power::setMainDisplayAsleep(true, root()));
    EXPECT_TRUE(Power::sleepDisabled(root()));
    EXPECT_TRUE(Power::lowPowerMode(root()));
    EXPECT_EQ(Power::thermalState(root()), Power::ThermalState::critical);
    EXPECT_TRUE(Power::mainDisplayAsleep(root()));

    EXPECT_TRUE(Power::setSleepDisabled(false, root()));
    EXPECT_FALSE(Power::sleepDisabled(root()));
    EXPECT_TRUE(Power::lowPowerMode(root()));
}

TEST_F(SimulatedPower, DamagedStateReadsAsTheFreshMachine) {
    for (const char* damaged : {"", "{", "[]", "null", R"({"sleepDisabled":1,"lowPowerMode":"on"})",
                                R"({"thermalState":"hot","displayAsleep":null})", R"({"thermalState":3})"}) {
        writeFile(root() / "power/state.json", damaged);
        EXPECT_FALSE(Power::sleepDisabled(root())) << damaged;
        EXPECT_FALSE(Power::lowPowerMode(root())) << damaged;
        EXPECT_EQ(Power::thermalState(root()), Power::ThermalState::nominal) << damaged;
        EXPECT_FALSE(Power::mainDisplayAsleep(root())) << damaged;
    }
    // A setter starts over from a damaged file rather than failing.
    EXPECT_TRUE(Power::setLowPowerMode(true, root()));
    EXPECT_TRUE(Power::lowPowerMode(root()));
}

TEST_F(SimulatedPower, ThermalStatesHaveTheirNames) {
    for (auto state : {Power::ThermalState::nominal, Power::ThermalState::fair, Power::ThermalState::serious,
                       Power::ThermalState::critical}) {
        EXPECT_EQ(Power::thermalStateNamed(Power::rawValue(state)), state);
        Power::setThermalState(state, root());
        EXPECT_EQ(Power::thermalState(root()), state);
    }
    EXPECT_EQ(Power::thermalStateNamed("Critical"), std::nullopt);
}

TEST_F(SimulatedPower, PowerSourcesAreHandedOverAsStored) {
    writeFile(root() / "power/sources.json", "[]");
    EXPECT_EQ(Power::powerSources(root()), std::vector<json>{});
    writeFile(root() / "power/sources.json", "null");
    EXPECT_EQ(Power::powerSources(root()), std::nullopt);
    writeFile(root() / "power/sources.json", R"([null, "text", {"Current Capacity": 5}])");
    EXPECT_EQ(Power::powerSources(root()), (std::vector<json>{nullptr, "text", json{{"Current Capacity", 5}}}));

    for (const char* damaged : {"", "[", "{}", "42"}) {
        writeFile(root() / "power/sources.json", damaged);
        ASSERT_TRUE(Power::powerSources(root()).has_value()) << damaged;
        EXPECT_EQ(Power::powerSources(root())->front()["Power Source State"], "AC Power") << damaged;
    }

    EXPECT_TRUE(Power::setPowerSources(std::nullopt, root()));
    EXPECT_EQ(Power::powerSources(root()), std::nullopt);
    EXPECT_TRUE(Power::setPowerSources(std::vector<json>{json{{"Max Capacity", 80}}}, root()));
    EXPECT_EQ(Power::powerSources(root()), (std::vector<json>{json{{"Max Capacity", 80}}}));
}

TEST_F(SimulatedPower, AssertionsAreRecordedUntilReleased) {
    auto idle = Power::createAssertion("PreventUserIdleSystemSleep", "lumra", 255, root());
    auto display = Power::createAssertion("PreventUserIdleDisplaySleep", "lumra", 255, root());
    ASSERT_TRUE(std::holds_alternative<uint32_t>(idle));
    ASSERT_TRUE(std::holds_alternative<uint32_t>(display));
    uint32_t idleID = std::get<uint32_t>(idle), displayID = std::get<uint32_t>(display);
    EXPECT_NE(idleID, 0u);
    EXPECT_NE(displayID, 0u);
    EXPECT_NE(idleID, displayID);

    auto held = Power::assertions(root());
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].id, idleID);
    EXPECT_EQ(held[0].type, "PreventUserIdleSystemSleep");
    EXPECT_EQ(held[0].name, "lumra");
    EXPECT_EQ(held[0].level, 255);
    EXPECT_EQ(held[0].pid, ::getpid());
    EXPECT_EQ(held[1].type, "PreventUserIdleDisplaySleep");

    EXPECT_EQ(Power::releaseAssertion(idleID, root()), std::nullopt);
    ASSERT_EQ(Power::assertions(root()).size(), 1u);
    EXPECT_EQ(Power::assertions(root())[0].id, displayID);

    auto again = Power::releaseAssertion(idleID, root());
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->reason, "no assertion with ID " + std::to_string(idleID));

    // A released ID is not handed out again soon.
    auto next = Power::createAssertion("PreventUserIdleSystemSleep", "lumra", 255, root());
    EXPECT_NE(std::get<uint32_t>(next), idleID);
}

TEST_F(SimulatedPower, AnInjectedRefusalRefusesNewAssertions) {
    writeFile(root() / "power/assertion-error.txt", "kIOReturnNotPrivileged\n");
    auto refused = Power::createAssertion("PreventUserIdleSystemSleep", "lumra", 255, root());
    ASSERT_TRUE(std::holds_alternative<Power::Refusal>(refused));
    EXPECT_EQ(std::get<Power::Refusal>(refused).reason, "kIOReturnNotPrivileged");
    EXPECT_TRUE(Power::assertions(root()).empty());
}

// An assertion ends with the process that made it; one written by hand,
// without a process, stays until released.
TEST_F(SimulatedPower, AssertionsOfEndedProcessesAreGone) {
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>("true"), nullptr};
    char* envp[] = {nullptr};
    ASSERT_EQ(::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, envp), 0);
    ::waitpid(pid, nullptr, 0);
    writeFile(
        root() / "power/assertions.json",
        json{{"next", 10},
             {"assertions",
              {{{"id", 3}, {"type", "PreventUserIdleSystemSleep"}, {"name", "gone"}, {"level", 255}, {"pid", pid}},
               {{"id", 4}, {"type", "PreventUserIdleSystemSleep"}, {"name", "by hand"}, {"level", 255}},
               {{"id", 0}, {"name", "invalid ID"}},
               "not an assertion"}}}
            .dump());
    auto held = Power::assertions(root());
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].name, "by hand");
    EXPECT_EQ(std::get<uint32_t>(Power::createAssertion("t", "n", 255, root())), 10u);
}

TEST_F(SimulatedPower, IDsWrapAroundPastZeroAndSkipThoseInUse) {
    writeFile(root() / "power/assertions.json",
              json{{"next", 4294967295u}, {"assertions", {{{"id", 1}, {"name", "by hand"}}}}}.dump());
    EXPECT_EQ(std::get<uint32_t>(Power::createAssertion("t", "n", 255, root())), 4294967295u);
    EXPECT_EQ(std::get<uint32_t>(Power::createAssertion("t", "n", 255, root())), 2u);
}

TEST_F(SimulatedPower, DamagedAssertionsFileStartsOver) {
    writeFile(root() / "power/assertions.json", "{\"next\":");
    EXPECT_TRUE(Power::assertions(root()).empty());
    EXPECT_EQ(std::get<uint32_t>(Power::createAssertion("t", "n", 255, root())), 1u);
}

TEST_F(SimulatedPower, ConcurrentCreatorsGetDistinctIDsAndAllAreKept) {
    std::vector<std::vector<uint32_t>> made(4);
    std::vector<std::thread> threads;
    for (auto& ids : made)
        threads.emplace_back([&ids, this] {
            for (int i = 0; i < 20; ++i)
                ids.push_back(std::get<uint32_t>(Power::createAssertion("t", "n", 255, root())));
        });
    for (auto& thread : threads) thread.join();
    std::set<uint32_t> distinct;
    for (const auto& ids : made) distinct.insert(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), 80u);
    EXPECT_EQ(Power::assertions(root()).size(), 80u);
}

} // namespace
