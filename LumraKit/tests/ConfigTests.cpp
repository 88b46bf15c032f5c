#include "FailingWrites.hpp"

#include <LumraKit/ClaimStore.hpp>
#include <LumraKit/Config.hpp>
#include <LumraKit/NotificationStore.hpp>
#include <LumraKit/SuspendStore.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using LumraKit::Config;
using nlohmann::json;
using TestSupport::contents;
using TestSupport::writeFile;

TEST(Config, DefaultsAndTheFloorRange) {
    Config config;
    EXPECT_EQ(config.batteryFloorPercent, 15);
    EXPECT_EQ(config.lastMinutes, 0);
    EXPECT_FALSE(config.menuDisplay);
    EXPECT_EQ(config.notifyCommand, "");
    EXPECT_TRUE(config.updateCheck);
    EXPECT_EQ(config.installID, std::nullopt);
    EXPECT_EQ(config.nextUpdateCheck, std::nullopt);
    EXPECT_EQ(config.latestVersion, std::nullopt);
    EXPECT_EQ(config.updateAnnounced, std::nullopt);
    EXPECT_TRUE(Config::floorRange.contains(0) && Config::floorRange.contains(50));
    EXPECT_FALSE(Config::floorRange.contains(-1) || Config::floorRange.contains(51));
    EXPECT_EQ(Config::floorRange.clamped(80), 50);
    EXPECT_EQ(Config::floorRange.clamped(-5), 0);
    EXPECT_EQ(Config(15, 0, false, "", true), Config());
    Config five(20, 30, true, "say hi", false);
    EXPECT_EQ(five.batteryFloorPercent, 20);
    EXPECT_EQ(five.notifyCommand, "say hi");
    EXPECT_EQ(five.installID, std::nullopt);
}

TEST(Config, NoFileOrAnEmptyObjectGivesTheDefaults) {
    TestSupport::TempDir state;
    EXPECT_EQ(Config::load(state / "config.json"), Config());
    writeFile(state / "config.json", "{}");
    EXPECT_EQ(Config::load(state / "config.json"), Config());
    EXPECT_EQ(contents(state / "config.json"), "{}"); // nothing written back
}

TEST(Config, SavingTheDefaultsWritesOnlyTheFiveFixedKeys) {
    TestSupport::TempDir state;
    Config().save(state / "lumra/config.json");
    EXPECT_EQ(json::parse(contents(state / "lumra/config.json")),
              json::parse(R"({"batteryFloorPercent":15,"lastMinutes":0,"menuDisplay":false,"notifyCommand":"",
                              "updateCheck":true})"));
}

TEST(Config, RoundTripsEveryField) {
    TestSupport::TempDir state;
    Config config(30, 90, true, "osascript -e 'beep'", false);
    config.installID = "0C4D";
    config.nextUpdateCheck = Platform::Date(LumraKit::referenceDateSinceEpoch + 1500ms);
    config.latestVersion = "1.4.0";
    config.updateAnnounced = "1.3.9";
    config.save(state / "config.json");
    EXPECT_EQ(Config::load(state / "config.json"), config);
    EXPECT_EQ(json::parse(contents(state / "config.json")).at("nextUpdateCheck"), json(1.5));
}

TEST(Config, NullKeysTakeDefaultsAndUnknownKeysAreIgnored) {
    EXPECT_EQ(Config::decode(R"({"batteryFloorPercent":null,"installID":null,"nextUpdateCheck":null,"theme":"dark",
                                 "notifyCommand":null,"updateCheck":null})"),
              Config());
    Config partial = Config::decode(R"({"lastMinutes":45,"latestVersion":"2.0","batteryFloorPercent":10.0})");
    EXPECT_EQ(partial.lastMinutes, 45);
    EXPECT_EQ(partial.batteryFloorPercent, 10);
    EXPECT_EQ(partial.latestVersion, "2.0");
    EXPECT_TRUE(partial.updateCheck);
}

// Any value of the wrong type spoils the whole file: nothing of it is used.
TEST(Config, AWrongTypeAnywhereGivesAllDefaults) {
    TestSupport::TempDir state;
    for (const char* damaged :
         {R"({"batteryFloorPercent":"20","lastMinutes":5})", R"({"lastMinutes":5,"batteryFloorPercent":20.5})",
          R"({"lastMinutes":5,"menuDisplay":1})", R"({"lastMinutes":5,"notifyCommand":[]})",
          R"({"lastMinutes":5,"updateCheck":"yes"})", R"({"lastMinutes":5,"installID":7})",
          R"({"lastMinutes":5,"nextUpdateCheck":"2026-01-01T00:00:00Z"})",
          R"({"lastMinutes":5,"nextUpdateCheck":1e12})", R"({"lastMinutes":5,"latestVersion":true})",
          R"({"lastMinutes":5,"updateAnnounced":{}})", R"({"lastMinutes":1e10})", R"([])", R"("config")", "{", "",
          "\xFF"}) {
        writeFile(state / "config.json", damaged);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Config::load(state / "config.json"), Config()) << damaged;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << damaged;
        EXPECT_EQ(contents(state / "config.json"), damaged);
    }
    EXPECT_THROW((void)Config::decode(R"({"batteryFloorPercent":"20"})"), LumraKit::DecodingError);
}

TEST(Config, TheNextSaveOverwritesADamagedFile) {
    TestSupport::TempDir state;
    writeFile(state / "config.json", "{\"menuDisplay\":");
    Config config = Config::load(state / "config.json");
    config.menuDisplay = true;
    config.save(state / "config.json");
    EXPECT_TRUE(Config::load(state / "config.json").menuDisplay);
}

TEST(Config, AFailedSaveIsLoggedAndKeepsTheOldFile) {
    TestSupport::TempDir state;
    Config(20, 0, false, "", true).save(state / "config.json");
    EXPECT_THAT(logWhileWritesFail([&] { Config(30, 0, false, "", true).save(state / "config.json"); }),
                testing::EndsWith("config.json not written, keeping the previous file: File too large\n"));
    EXPECT_EQ(Config::load(state / "config.json").batteryFloorPercent, 20);
}

// Every state file is the user's alone, in a folder that is too: the
// configuration may hold a hook with a token in it.
TEST(StateFiles, AreWrittenForTheOwnerOnlyInAnOwnerOnlyFolder) {
    auto modeOf = [](const std::filesystem::path& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u;
    };
    TestSupport::TempDir home;
    mode_t previous = ::umask(022);
    struct Case {
        std::string file;
        std::function<void(const std::filesystem::path&)> save;
    };
    const Case cases[] = {
        {"config.json", [](const auto& file) { Config().save(file); }},
        {"claims.json",
         [](const auto& file) {
             LumraKit::ClaimStore(file).save({LumraKit::Claim("you", false, {LumraKit::Mode::idle},
                                                              LumraKit::Term::indefinite(), Platform::Date())});
         }},
        {"suspended.json",
         [](const auto& file) { LumraKit::SuspendStore(file, [] { return Platform::Date(); }).save(Platform::Date(1s)); }},
        {"notifications.json",
         [](const auto& file) { LumraKit::NotificationStore(file).save(LumraKit::NotificationStore::Reach::allowed); }},
    };
    for (const auto& [file, save] : cases) {
        auto folder = home / file / "state";
        save(folder / file);
        EXPECT_EQ(modeOf(folder / file), 0600u) << file;
        EXPECT_EQ(modeOf(folder), 0700u) << file;
    }
    ::umask(previous);
}

} // namespace
