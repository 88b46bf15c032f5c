// The Linux world and the engine on it, against a private bus with the mock
// login manager, UPower and power profiles daemon (and, where a test asks,
// the session's screen saver).

#include <LumraKit/LinuxWorld.hpp>
#include <LumraKit/StateMachine.hpp>

#include <TestSupport/FileContents.hpp>
#include <TestSupport/PrivateBus.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

using namespace LumraKit;
using namespace std::chrono_literals;
using TestSupport::PrivateBus;
using Inhibitor = PrivateBus::Inhibitor;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr const char* login1 = "org.freedesktop.login1";
constexpr const char* upower = "org.freedesktop.UPower";
constexpr const char* profiles = "net.hadess.PowerProfiles";
constexpr const char* screenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* mockInterface = "org.freedesktop.DBus.Mock";

const Inhibitor idleLock{"idle", "lumra", LinuxWorld::idleWhy, "block"};
const Inhibitor displayLock{"idle", "lumra", LinuxWorld::displayWhy, "block"};
const Inhibitor lidLock{"sleep:handle-lid-switch", "lumra", LinuxWorld::lidWhy, "block"};

bool eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// UPower's device states.
constexpr uint32_t charging = 1, discharging = 2, fullyCharged = 4;

class LinuxWorldBusTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        bus = new PrivateBus;
        logind = bus->startMock("logind", login1);
        upowerMock = bus->startMock("upower", upower);
        bus->startMock("power_profiles_daemon", profiles);
    }
    static void TearDownTestSuite() {
        delete bus;
        bus = nullptr;
    }

    void SetUp() override {
        setBattery(false, 0, 0, false);
        setProfile("balanced");
    }

    void TearDown() override {
        engine.reset();
        world.reset();
        // Locks go when their descriptors close; the mock notices a moment later.
        EXPECT_TRUE(eventually([] { return bus->inhibitors().empty(); })) << "locks left behind";
    }

    LinuxWorld::Facilities facilities() const { return {bus->address(), bus->address(), home / "thermal"}; }

    StateMachine& start() {
        world = std::make_unique<LinuxWorld>(paths, facilities());
        engine = std::make_unique<StateMachine>(*world);
        engine->notify = [this](const EndReason& reason, const std::vector<Claim>& claims) {
            ended.emplace_back(reason, claims.size());
        };
        return *engine;
    }

    static Claim claim(std::string_view owner, ModeSet modes, bool forced = false) {
        return Claim(owner, forced, modes, Term::indefinite(), std::chrono::system_clock::now());
    }

    static void setBattery(bool present, uint32_t state, double percent, bool onBattery) {
        std::string error;
        sd_bus_message* reply = bus->call(&error, upower, "/org/freedesktop/UPower", mockInterface,
                                          "SetupDisplayDevice", "uuddddxxbsu", uint32_t(present ? 2 : 0), state,
                                          percent, percent, 100.0, 0.0, int64_t(0), int64_t(0), int(present), "",
                                          uint32_t(1));
        ASSERT_NE(reply, nullptr) << error;
        sd_bus_message_unref(reply);
        bus->setBoolean(upower, "/org/freedesktop/UPower", upower, "OnBattery", onBattery);
    }

    static void setProfile(const char* profile) {
        bus->setString(profiles, "/net/hadess/PowerProfiles", profiles, "ActiveProfile", profile);
    }

    static void restartLogind() {
        bus->stopMock(logind, login1);
        logind = bus->startMock("logind", login1);
    }

    // How often the mock at `path` of `destination` was asked `method`.
    static size_t callsOf(const char* destination, const char* path, const char* method) {
        std::string error;
        sd_bus_message* reply = bus->call(&error, destination, path, mockInterface, "GetMethodCalls", "s", method);
        EXPECT_NE(reply, nullptr) << error;
        size_t count = 0;
        if (reply && sd_bus_message_enter_container(reply, 'a', "(tav)") > 0)
            while (sd_bus_message_skip(reply, "(tav)") > 0) ++count;
        sd_bus_message_unref(reply);
        return count;
    }

    // Takes a lock of the test's own, as another program would.
    static int otherLock(const char* what, const char* who, const char* why, const char* mode) {
        std::string error;
        sd_bus_message* reply = bus->call(&error, login1, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                          "Inhibit", "ssss", what, who, why, mode);
        EXPECT_NE(reply, nullptr) << error;
        int fd = -1;
        if (reply) sd_bus_message_read_basic(reply, 'h', &fd);
        int own = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
        sd_bus_message_unref(reply);
        return own;
    }

    static inline PrivateBus* bus = nullptr;
    static inline pid_t logind = -1;
    static inline pid_t upowerMock = -1;

    TestSupport::TempDir home;
    Paths paths = Paths::derive(home.path(), Identity::resolve(std::string(Identity::release)));
    std::unique_ptr<LinuxWorld> world;
    std::unique_ptr<StateMachine> engine;
    std::vector<std::pair<EndReason, size_t>> ended;
};

TEST_F(LinuxWorldBusTest, ClaimsHoldLoginManagerLocksThatGoWithThem) {
    StateMachine& machine = start();
    ASSERT_TRUE(machine.engage(claim("you", {Mode::idle, Mode::display, Mode::lid})).ok());
    EXPECT_THAT(bus->inhibitors(), testing::UnorderedElementsAre(idleLock, displayLock, lidLock));
    Status status = machine.status();
    EXPECT_TRUE(status.sleepDisabled);
    EXPECT_TRUE(status.lidArmed);
    EXPECT_EQ(status.displayHold, "idleInhibitor");
    EXPECT_THAT(status.otherHolders.value(), IsEmpty());

    // Lid alone goes; the idle locks stay.
    ASSERT_TRUE(machine.engage(claim("you", {Mode::idle, Mode::display})).ok());
    EXPECT_TRUE(eventually([&] { return bus->inhibitors().size() == 2; }));
    EXPECT_FALSE(machine.status().sleepDisabled);

    machine.endAll(EndReason::requested());
    EXPECT_TRUE(eventually([] { return bus->inhibitors().empty(); }));
}

TEST_F(LinuxWorldBusTest, ALidLockThatVanishesEndsEveryClaimAsSwitchedOffFromOutside) {
    StateMachine& machine = start();
    ASSERT_TRUE(machine.engage(claim("you", {Mode::idle, Mode::lid})).ok());
    ASSERT_TRUE(machine.engage(claim("backup", {Mode::idle}, true)).ok());
    TestSupport::RedirectedStandardError captured(home / "stderr");
    restartLogind();
    machine.tick();
    captured.restore();

    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0], std::make_pair(EndReason::externalOff(), size_t(2)));
    EXPECT_THAT(machine.claims(), IsEmpty());
    // Nothing is taken again on the new login manager.
    EXPECT_THAT(bus->inhibitors(), IsEmpty());
    EXPECT_THAT(TestSupport::contents(home / "stderr"),
                testing::HasSubstr("the lid lock vanished from the login manager's list: taking the lid as switched "
                                   "off from outside"));
}

TEST_F(LinuxWorldBusTest, AnIdleLockThatVanishesIsTakenAgain) {
    StateMachine& machine = start();
    ASSERT_TRUE(machine.engage(claim("you", {Mode::idle})).ok());
    restartLogind();
    machine.tick();
    EXPECT_THAT(bus->inhibitors(), ElementsAre(idleLock));
    EXPECT_EQ(machine.claims().size(), 1u);
    EXPECT_THAT(ended, IsEmpty());
}

TEST_F(LinuxWorldBusTest, APolkitRefusalNamesTheMissingAuthorisation) {
    std::string error;
    sd_bus_message* reply = bus->call(
        &error, login1, "/org/freedesktop/login1", mockInterface, "AddMethod", "sssss",
        "org.freedesktop.login1.Manager", "Inhibit", "ssss", "h",
        "raise dbus.exceptions.DBusException('Interactive authentication required.', "
        "name='org.freedesktop.DBus.Error.InteractiveAuthorizationRequired')");
    ASSERT_NE(reply, nullptr) << error;
    sd_bus_message_unref(reply);

    StateMachine& machine = start();
    auto result = machine.engage(claim("you", {Mode::lid}));
    restartLogind();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message(),
              "The polkit authorisation to hold the machine awake with the lid closed is missing "
              "(org.freedesktop.login1.inhibit-block-sleep and org.freedesktop.login1.inhibit-handle-lid-switch): "
              "Interactive authentication required.");
    EXPECT_THAT(machine.claims(), IsEmpty());
    EXPECT_FALSE(machine.status().sleepDisabled);
}

struct BatteryRow {
    const char* name;
    bool present;
    uint32_t state;
    double percent;
    bool onBattery;
    const char* profile;
    PowerSnapshot expected;
};

TEST_F(LinuxWorldBusTest, ReadsTheBatteryFromUPowersDisplayDeviceAndLowPowerModeFromTheProfile) {
    const std::vector<BatteryRow> rows = {
        {"desktop", false, 0, 0, false, "balanced", {false, true, false, 100, false}},
        {"charging", true, charging, 57.9, false, "balanced", {true, true, false, 57, false}},
        {"full on AC", true, fullyCharged, 100, false, "performance", {true, true, false, 100, false}},
        {"discharging", true, discharging, 42.5, true, "balanced", {true, false, true, 42, false}},
        {"power saver", true, discharging, 12, true, "power-saver", {true, false, true, 12, true}},
        {"just unplugged", true, fullyCharged, 100, true, "balanced", {true, false, true, 100, false}},
        {"desktop saving power", false, 0, 0, false, "power-saver", {false, true, false, 100, true}},
    };
    LinuxWorld reading(paths, facilities());
    for (const auto& row : rows) {
        setBattery(row.present, row.state, row.percent, row.onBattery);
        setProfile(row.profile);
        EXPECT_EQ(reading.power(), row.expected) << row.name;
    }
}

TEST_F(LinuxWorldBusTest, TheBatteryFloorAndLowPowerModeEndClaims) {
    StateMachine& machine = start();
    machine.setFloor(15);
    setBattery(true, discharging, 12, true);
    auto refused = machine.engage(claim("you", {Mode::idle}));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message(), "Battery 12% is at or below your 15% floor. Not arming.");

    setBattery(true, discharging, 40, true);
    ASSERT_TRUE(machine.engage(claim("you", {Mode::idle})).ok());
    ASSERT_TRUE(machine.engage(claim("build", {Mode::idle}, true)).ok());
    setProfile("power-saver");
    machine.tick();
    EXPECT_THAT(ended, ElementsAre(std::make_pair(EndReason::lowPowerMode(), size_t(1))));

    setBattery(true, discharging, 15, true);
    machine.tick();
    EXPECT_EQ(ended.back(), std::make_pair(EndReason::batteryFloor(15), size_t(1)));
    EXPECT_TRUE(eventually([] { return bus->inhibitors().empty(); }));
}

TEST_F(LinuxWorldBusTest, OtherProgramsBlockLocksOnSleepAreTheOtherHolders) {
    StateMachine& machine = start();
    ASSERT_TRUE(machine.engage(claim("you", {Mode::idle, Mode::lid})).ok());
    int locks[] = {otherLock("sleep", "backupd", "Copying files", "block"),
                   otherLock("sleep", "NetworkManager", "Disconnecting first", "delay"),
                   otherLock("shutdown", "packagekit", "Upgrading", "block"),
                   otherLock("idle:handle-lid-switch", "lumra", "Someone else's claims", "block")};

    auto holders = machine.status().otherHolders;
    ASSERT_TRUE(holders.has_value());
    // The mock reports every lock as process 123456.
    EXPECT_THAT(*holders, ElementsAre(OtherHolder{"backupd", "Copying files", "sleep", "block", 123456},
                                      OtherHolder{"lumra", "Someone else's claims", "idle:handle-lid-switch",
                                                  "block", 123456}));
    for (int fd : locks) ::close(fd);
    machine.endAll(EndReason::requested());
}

TEST_F(LinuxWorldBusTest, TheSessionsScreenSaverKeepsTheDisplayLitAndTellsWhenItIsDark) {
    pid_t saver = bus->startMock(std::string(MOCKS_DIR) + "/screensaver.py", screenSaver);
    StateMachine& machine = start();
    ASSERT_TRUE(machine.engage(claim("you", {Mode::display})).ok());
    auto holds = [] {
        std::string error;
        sd_bus_message* reply =
            bus->call(&error, screenSaver, "/org/freedesktop/ScreenSaver", mockInterface, "ListHolds", "");
        std::vector<std::string> held;
        const char *who, *why;
        uint32_t cookie;
        if (reply && sd_bus_message_enter_container(reply, 'a', "(uss)") > 0)
            while (sd_bus_message_read(reply, "(uss)", &cookie, &who, &why) > 0) held.push_back(std::string(who) + ": " + why);
        sd_bus_message_unref(reply);
        return held;
    };
    EXPECT_THAT(holds(), ElementsAre(std::string("lumra: ") + LinuxWorld::displayWhy));
    EXPECT_THAT(bus->inhibitors(), IsEmpty());
    EXPECT_EQ(machine.status().displayHold, "screenSaver");
    machine.endAll(EndReason::requested());
    EXPECT_THAT(holds(), IsEmpty());

    // Below the floor with nothing claimed, a dark screen sends the machine to sleep.
    machine.setFloor(10);
    setBattery(true, discharging, 8, true);
    size_t before = callsOf(login1, "/org/freedesktop/login1", "Suspend");
    machine.tick();
    EXPECT_EQ(callsOf(login1, "/org/freedesktop/login1", "Suspend"), before);
    std::string error;
    sd_bus_message_unref(bus->call(&error, screenSaver, "/org/freedesktop/ScreenSaver", mockInterface, "SetActive",
                                   "b", 1));
    machine.tick();
    EXPECT_EQ(callsOf(login1, "/org/freedesktop/login1", "Suspend"), before + 1);
    bus->stopMock(saver, screenSaver);
}

TEST_F(LinuxWorldBusTest, WithoutUPowerTheBatteryReadsAsNoneOnACWithOneWarning) {
    setBattery(true, discharging, 30, true);
    LinuxWorld reading(paths, facilities());
    bus->stopMock(upowerMock, upower);
    upowerMock = -1;
    TestSupport::RedirectedStandardError captured(home / "stderr");
    EXPECT_EQ(reading.power(), (PowerSnapshot{false, true, false, 100, false}));
    EXPECT_EQ(reading.power(), (PowerSnapshot{false, true, false, 100, false}));
    captured.restore();
    upowerMock = bus->startMock("upower", upower);

    std::string log = TestSupport::contents(home / "stderr");
    std::string warning = "warning: UPower is not answering (org.freedesktop.DBus.Error.ServiceUnknown: The name "
                          "org.freedesktop.UPower was not provided by any .service files): the battery reads as "
                          "none, on AC power\n";
    EXPECT_THAT(log, testing::HasSubstr(warning));
    EXPECT_EQ(log.find(warning), log.rfind(warning));
}

} // namespace
