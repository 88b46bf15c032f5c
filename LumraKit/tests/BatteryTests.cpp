#include <LumraKit/Battery.hpp>
#include <LumraKit/JSONCoder.hpp>

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using LumraKit::Battery;
using LumraKit::PowerSnapshot;
using nlohmann::json;

const PowerSnapshot noBattery{false, true, false, 100, false};

// Battery readings of the simulated machine, whose power sources the test
// writes as they would come from the platform.
class BatteryTest : public testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(root / "power"); }
    void sources(const std::string& text) const { TestSupport::writeFile(root / "power/sources.json", text); }
    PowerSnapshot withSource(const json& description) const {
        sources(json::array({description}).dump());
        return Battery::snapshot();
    }

    const std::filesystem::path& root = Platform::SimulatedHost::root();
};

TEST_F(BatteryTest, AFreshLaptopIsFullOnAC) {
    EXPECT_EQ(Battery::snapshot(), (PowerSnapshot{true, true, false, 100, false}));
}

TEST_F(BatteryTest, OnItsOwnBatteryItIsDischarging) {
    json description{{"Power Source State", "Battery Power"},
                     {"Current Capacity", 57},
                     {"Max Capacity", 100},
                     {"Is Charging", false}};
    EXPECT_EQ(withSource(description), (PowerSnapshot{true, false, true, 57, false}));
    description["Is Charging"] = true;
    EXPECT_EQ(withSource(description), (PowerSnapshot{true, false, false, 57, false}));
    description.erase("Is Charging");
    EXPECT_EQ(withSource(description), (PowerSnapshot{true, false, true, 57, false}));
    EXPECT_EQ(withSource({{"Power Source State", "AC Power"}, {"Current Capacity", 80}, {"Is Charging", true}}),
              (PowerSnapshot{true, true, false, 80, false}));
    // Only the exact state text means AC power.
    EXPECT_EQ(withSource({{"Power Source State", "ac power"}}).onAC, false);
    EXPECT_EQ(withSource({{"Power Source State", 1}}).onAC, false);
}

TEST_F(BatteryTest, PercentIsTruncatedNotRounded) {
    EXPECT_EQ(withSource({{"Current Capacity", 50}, {"Max Capacity", 80}}).percent, 62);
    EXPECT_EQ(withSource({{"Current Capacity", 99}, {"Max Capacity", 100}}).percent, 99);
    EXPECT_EQ(withSource({{"Current Capacity", 2}, {"Max Capacity", 3}}).percent, 66);
    EXPECT_EQ(withSource({{"Current Capacity", 4000}, {"Max Capacity", 5000}}).percent, 80);
}

TEST_F(BatteryTest, CapacitiesThatAreNotIntegersCountAsOneHundred) {
    EXPECT_EQ(withSource({{"Max Capacity", 200}}).percent, 50);
    EXPECT_EQ(withSource({{"Current Capacity", 40}}).percent, 40);
    EXPECT_EQ(withSource({{"Current Capacity", "40"}, {"Max Capacity", 200}}).percent, 50);
    EXPECT_EQ(withSource({{"Current Capacity", 40.5}, {"Max Capacity", 200}}).percent, 50);
    EXPECT_EQ(withSource({{"Current Capacity", true}, {"Max Capacity", 200}}).percent, 50);
}

TEST_F(BatteryTest, AMaximumOfZeroOrLessIsOneHundredPercent) {
    EXPECT_EQ(withSource({{"Current Capacity", 50}, {"Max Capacity", 0}}).percent, 100);
    EXPECT_EQ(withSource({{"Current Capacity", 50}, {"Max Capacity", -10}}).percent, 100);
}

TEST_F(BatteryTest, HugeCapacitiesDoNotOverflow) {
    EXPECT_EQ(
        withSource({{"Current Capacity", 9223372036854775807LL}, {"Max Capacity", 9223372036854775807LL}}).percent,
        100);
    EXPECT_EQ(withSource({{"Current Capacity", 9223372036854775807LL}, {"Max Capacity", 1}}).percent,
              std::numeric_limits<int>::max());
}

TEST_F(BatteryTest, MissingPowerSourceInformationIsNoBatteryOnAC) {
    for (const char* missing : {"[]", "null", "[null]", "[\"text\"]", "[42, {\"Current Capacity\": 5}]"}) {
        sources(missing);
        EXPECT_EQ(Battery::snapshot(), noBattery) << missing;
    }
}

TEST_F(BatteryTest, LowPowerModeIsReadInEveryCase) {
    Platform::Power::setLowPowerMode(true, root);
    EXPECT_TRUE(Battery::snapshot().lowPowerMode);
    sources("[]");
    EXPECT_EQ(Battery::snapshot(), (PowerSnapshot{false, true, false, 100, true}));
}

// --- JSON

TEST(PowerSnapshotJSON, HasTheFiveKeys) {
    PowerSnapshot snapshot{true, false, true, 42, false};
    EXPECT_EQ(LumraKit::toJSON(snapshot),
              json::parse(R"({"hasBattery":true,"onAC":false,"discharging":true,"percent":42,"lowPowerMode":false})"));
    EXPECT_EQ(LumraKit::powerSnapshotFromJSON(LumraKit::toJSON(snapshot)), snapshot);
}

TEST(PowerSnapshotJSON, DecodesInAnyKeyOrderIgnoringExtraKeys) {
    auto decoded = LumraKit::powerSnapshotFromJSON(json::parse(
        R"({"percent":-3,"lowPowerMode":true,"discharging":false,"onAC":true,"hasBattery":false,"extra":1})"));
    EXPECT_EQ(decoded, (PowerSnapshot{false, true, false, -3, true}));
}

TEST(PowerSnapshotJSON, EveryKeyIsRequiredWithItsType) {
    const json complete =
        json::parse(R"({"hasBattery":true,"onAC":false,"discharging":true,"percent":42,"lowPowerMode":false})");
    for (const char* key : {"hasBattery", "onAC", "discharging", "percent", "lowPowerMode"}) {
        json missing = complete;
        missing.erase(key);
        EXPECT_THROW(LumraKit::powerSnapshotFromJSON(missing), LumraKit::DecodingError) << key;
        json wrong = complete;
        wrong[key] = "true";
        EXPECT_THROW(LumraKit::powerSnapshotFromJSON(wrong), LumraKit::DecodingError) << key;
    }
    for (json percent : {json(42.5), json(true), json(nullptr), json(4294967296LL), json(-4294967296LL)}) {
        json wrong = complete;
        wrong["percent"] = percent;
        EXPECT_THROW(LumraKit::powerSnapshotFromJSON(wrong), LumraKit::DecodingError) << percent;
    }
    EXPECT_THROW(LumraKit::powerSnapshotFromJSON(json::array()), LumraKit::DecodingError);
    EXPECT_THROW(LumraKit::powerSnapshotFromJSON(json()), LumraKit::DecodingError);
}

} // namespace
