// lumrad and lumra on both hosts: what holds the machine awake, ours and
// others', as `lumra status` tells it. The Linux host runs against a private
// bus with the mock login manager, UPower and power profiles daemon.

#include "LumraDriven.hpp"

#include <LumraKit/LinuxWorld.hpp>

#include <TestSupport/PrivateBus.hpp>
#include <TestSupport/Subprocess.hpp>

#include <gmock/gmock.h>

#include <fcntl.h>

namespace {

using namespace LumradTesting;
using TestSupport::PrivateBus;
using Inhibitor = PrivateBus::Inhibitor;
using testing::HasSubstr;
using testing::IsEmpty;

using WhyAwake = LumraDrivenTest;

TEST_F(WhyAwake, OnTheMacOtherProcessesAssertionsShowWithTheirOwners) {
    auto created = Platform::Power::createAssertion("PreventUserIdleSystemSleep", "Copying files", 255, root);
    ASSERT_TRUE(std::holds_alternative<uint32_t>(created));
    start();
    ASSERT_EQ(lumra({"hold", "--modes", "idle", "--for", "1h"}).status, 0);

    auto holders = status().otherHolders;
    ASSERT_TRUE(holders.has_value());
    // This test program made it; lumrad's own assertion is not another's.
    std::string self = fs::read_symlink("/proc/self/exe").filename().string();
    EXPECT_THAT(*holders, testing::ElementsAre(OtherHolder{self, "Copying files", "PreventUserIdleSystemSleep",
                                                           std::nullopt, ::getpid()}));
    auto shown = lumra({"status"});
    EXPECT_THAT(shown.out, HasSubstr("Also keeping the machine awake:\n  " + self + " (pid " +
                                     std::to_string(::getpid()) + "): PreventUserIdleSystemSleep: Copying files\n"));
    Platform::Power::releaseAssertion(std::get<uint32_t>(created), root);
}

class LinuxHost : public WhyAwake {
protected:
    static void SetUpTestSuite() {
        bus = new PrivateBus;
        bus->startMock("logind", "org.freedesktop.login1");
        bus->startMock("upower", "org.freedesktop.UPower");
        bus->startMock("power_profiles_daemon", "net.hadess.PowerProfiles");
    }
    static void TearDownTestSuite() {
        delete bus;
        bus = nullptr;
    }

    // No session bus: the display is covered by the idle lock.
    void startLinux() {
        auto variables = bus->environment();
        variables["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (home / "no-session-bus").string();
        start({"--host", "linux"}, variables);
    }

    static bool locksAre(const std::vector<Inhibitor>& expected) {
        return eventually([&] { return bus->inhibitors() == expected; });
    }

    static inline PrivateBus* bus = nullptr;
};

const Inhibitor idleLock{"idle", "lumra", LinuxWorld::idleWhy, "block"};
const Inhibitor lidLock{"sleep:handle-lid-switch", "lumra", LinuxWorld::lidWhy, "block"};

// The day's work: hold for an hour, see it and others in the status, end it;
// hold again and kill the service: the locks die with it.
TEST_F(LinuxHost, HoldShowsTheLocksEndAndAKilledServiceReleaseThem) {
    startLinux();
    auto held = lumra({"hold", "--for", "1h"});
    ASSERT_EQ(held.status, 0) << held.err << serviceLog();
    EXPECT_TRUE(locksAre({idleLock, lidLock})) << serviceLog();

    // Another program's lock, as `systemd-inhibit --what=sleep` would take it.
    std::string error;
    sd_bus_message* reply = bus->call(&error, "org.freedesktop.login1", "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "Inhibit", "ssss", "sleep", "rsync",
                                      "Backing up", "block");
    ASSERT_NE(reply, nullptr) << error;
    int fd = -1;
    sd_bus_message_read_basic(reply, 'h', &fd);
    int other = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    sd_bus_message_unref(reply);

    Status holding = status();
    EXPECT_TRUE(holding.sleepDisabled);
    EXPECT_EQ(holding.displayHold, "idleInhibitor");
    EXPECT_EQ(holding.otherHolders, (std::vector<OtherHolder>{{"rsync", "Backing up", "sleep", "block", 123456}}));
    auto shown = lumra({"status"});
    EXPECT_THAT(shown.out, HasSubstr("Also keeping the machine awake:\n  rsync (pid 123456): sleep, block: Backing up\n"));
    ::close(other);

    ASSERT_EQ(lumra({"end"}).status, 0);
    EXPECT_TRUE(locksAre({})) << serviceLog();
    EXPECT_FALSE(status().sleepDisabled);

    ASSERT_EQ(lumra({"hold", "--modes", "idle,lid"}).status, 0);
    EXPECT_TRUE(locksAre({idleLock, lidLock}));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(exitStatus(), 128 + SIGKILL);
    EXPECT_TRUE(locksAre({})) << "locks outlived the service";
}

// A second service on the same claims file re-arms them on the locks.
TEST_F(LinuxHost, StoredClaimsAreReArmedOnTheLocksAtStart) {
    startLinux();
    ASSERT_EQ(lumra({"hold", "--modes", "idle,lid", "--for", "2h"}).status, 0);
    ::kill(pid, SIGTERM);
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_TRUE(locksAre({})) << "a stopped service keeps nothing held";
    EXPECT_EQ(storedClaims().size(), 1u);

    startLinux();
    EXPECT_TRUE(locksAre({idleLock, lidLock})) << serviceLog();
    EXPECT_THAT(serviceLog(), HasSubstr("startup: re-arming 1 persisted claim(s)"));
}

} // namespace
