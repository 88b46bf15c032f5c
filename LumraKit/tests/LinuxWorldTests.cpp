// The Linux world where its facilities are missing, and its reading of the
// kernel's thermal zones. No bus is started: these run anywhere.

#include <LumraKit/LinuxWorld.hpp>

#include <TestSupport/FileContents.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace LumraKit;
using TestSupport::TempDir;
using TestSupport::writeFile;
namespace fs = std::filesystem;

class LinuxWorldAloneTest : public testing::Test {
protected:
    TempDir home;
    Paths paths = Paths::derive(home.path(), Identity::resolve(std::string(Identity::release)));
    // Buses nobody listens on, and no thermal zones.
    LinuxWorld::Facilities nowhere{"unix:path=" + (home / "no-system-bus").string(),
                                   "unix:path=" + (home / "no-session-bus").string(), home / "thermal"};
};

TEST_F(LinuxWorldAloneTest, WithoutBusesAnswersSafelyAndWarnsOncePerFacility) {
    TestSupport::RedirectedStandardError captured(home / "stderr");
    LinuxWorld world(paths, nowhere);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(world.power(), (PowerSnapshot{false, true, false, 100, false}));
        EXPECT_FALSE(world.thermalCritical());
        EXPECT_FALSE(world.displayAsleep());
        EXPECT_FALSE(world.sleepDisabled());
        EXPECT_EQ(world.createAssertion(Mode::idle), 0u);
        EXPECT_EQ(world.otherHolders(), std::nullopt);
        EXPECT_EQ(world.displayHold(), "idleInhibitor");
    }
    EXPECT_EQ(world.setSleepDisabled(true),
              LidResult::refused("The login manager (systemd-logind) is not on the system bus, so the lid cannot be "
                                 "held: no system bus (No such file or directory)"));
    EXPECT_EQ(world.setSleepDisabled(false), LidResult::ok());
    captured.restore();

    std::string log = TestSupport::contents(home / "stderr");
    for (const char* warning :
         {"warning: power-profiles-daemon is not answering (no system bus (No such file or directory)): Low Power "
          "Mode reads as off\n",
          "warning: UPower is not answering (no system bus (No such file or directory)): the battery reads as none, "
          "on AC power\n",
          "warning: the login manager gave no \"idle\" lock: no system bus (No such file or directory)\n",
          "warning: the login manager does not list its locks: no system bus (No such file or directory)\n"}) {
        EXPECT_THAT(log, testing::HasSubstr(warning));
        EXPECT_EQ(log.find(warning), log.rfind(warning)) << "warned more than once: " << warning;
    }
}

// Temperatures and trip points in millidegrees Celsius, as the kernel writes them.
struct Zone {
    std::string temp;
    std::map<std::string, std::string> trips; // type -> temperature
    std::string mode = "enabled";
};

struct HeatRow {
    const char* name;
    std::vector<Zone> zones;
    bool critical;
};

TEST_F(LinuxWorldAloneTest, CriticalHeatIsAZoneAtOrPastItsHotOrCriticalTrip) {
    const std::vector<HeatRow> rows = {
        {"no zones", {}, false},
        {"cool", {{"45000", {{"passive", "80000"}, {"hot", "95000"}, {"critical", "105000"}}}}, false},
        {"past passive only", {{"90000", {{"passive", "80000"}, {"hot", "95000"}}}}, false},
        {"one below hot", {{"94999", {{"hot", "95000"}}}}, false},
        {"at hot", {{"95000", {{"hot", "95000"}, {"critical", "105000"}}}}, true},
        {"at critical", {{"105000", {{"critical", "105000"}}}}, true},
        {"second zone hot", {{"40000", {{"critical", "100000"}}}, {"101000", {{"critical", "100000"}}}}, true},
        {"unset trip of zero", {{"30000", {{"critical", "0"}}}}, false},
        {"disabled zone", {{"120000", {{"critical", "100000"}}, "disabled"}}, false},
        {"unreadable temperature", {{"n/a", {{"critical", "100000"}}}}, false},
    };
    for (const auto& row : rows) {
        TempDir sys;
        for (size_t z = 0; z < row.zones.size(); ++z) {
            fs::path zone = sys / ("thermal_zone" + std::to_string(z));
            writeFile(zone / "temp", row.zones[z].temp + "\n");
            writeFile(zone / "mode", row.zones[z].mode + "\n");
            int point = 0;
            for (const auto& [type, temp] : row.zones[z].trips) {
                writeFile(zone / ("trip_point_" + std::to_string(point) + "_type"), type + "\n");
                writeFile(zone / ("trip_point_" + std::to_string(point) + "_temp"), temp + "\n");
                ++point;
            }
        }
        // Cooling devices live beside the zones and are no zones.
        writeFile(sys / "cooling_device0/cur_state", "3\n");
        LinuxWorld world(paths, {nowhere.systemBus, nowhere.sessionBus, sys.path()});
        EXPECT_EQ(world.thermalCritical(), row.critical) << row.name;
    }
}

} // namespace
