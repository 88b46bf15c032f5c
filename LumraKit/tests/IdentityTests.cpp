#include <LumraKit/Identity.hpp>

#include <gtest/gtest.h>

namespace {

using LumraKit::Identity;
using LumraKit::Paths;

const std::string release(Identity::release);

TEST(Identity, NoBundleIdentifierIsADevelopmentBuild) {
    Identity identity = Identity::resolve(std::nullopt);
    EXPECT_EQ(identity.bundleID, release + ".dev");
    EXPECT_TRUE(identity.dev);
    EXPECT_EQ(identity.root("lumra"), "lumra-dev");
}

TEST(Identity, TheBaseIdentifierIsTheReleaseBuild) {
    Identity identity = Identity::resolve(release);
    EXPECT_EQ(identity.bundleID, release);
    EXPECT_FALSE(identity.dev);
    EXPECT_EQ(identity.root("lumra"), "lumra");
}

TEST(Identity, TheNotifierResolvesToTheIdentityItServes) {
    EXPECT_EQ(Identity::resolve(release + ".notifier").bundleID, release);
    EXPECT_FALSE(Identity::resolve(release + ".notifier").dev);
    // Only one trailing ".notifier" goes.
    Identity twice = Identity::resolve(release + ".notifier.notifier");
    EXPECT_EQ(twice.bundleID, release + ".notifier");
    EXPECT_TRUE(twice.dev);
    EXPECT_EQ(Identity::resolve(release + ".notifierX").bundleID, release + ".notifierX");
}

TEST(Identity, AnyOtherIdentifierIsADevelopmentBuild) {
    for (std::string other : {std::string("com.example.other"), release + ".dev", release + "x", std::string()}) {
        Identity identity = Identity::resolve(other);
        EXPECT_EQ(identity.bundleID, other);
        EXPECT_TRUE(identity.dev) << other;
    }
}

TEST(Paths, ReleasePathsLiveUnderTheHomeFolder) {
    Paths paths = Paths::derive("/Users/alice", Identity::resolve(release));
    EXPECT_EQ(paths.stateDir, "/Users/alice/.local/state/lumra");
    EXPECT_EQ(paths.claimsFile, "/Users/alice/.local/state/lumra/claims.json");
    EXPECT_EQ(paths.suspendFile, "/Users/alice/.local/state/lumra/suspended.json");
    EXPECT_EQ(paths.configFile, "/Users/alice/.local/state/lumra/config.json");
    EXPECT_EQ(paths.notificationsFile, "/Users/alice/.local/state/lumra/notifications.json");
    EXPECT_EQ(paths.socket, "/Users/alice/.local/state/lumra/lumra.sock");
    EXPECT_EQ(paths.logDir, "/Users/alice/Library/Logs/lumra");
    EXPECT_EQ(paths.serviceLog, "/Users/alice/Library/Logs/lumra/service.log");
    EXPECT_EQ(paths.sudoers, "/etc/sudoers.d/lumra");
    EXPECT_EQ(paths.launchdLabel, release);
    EXPECT_EQ(paths.notifierBundleID, release + ".notifier");
}

TEST(Paths, DevelopmentBuildsKeepSeparateStateAndLogsButShareTheSudoersFile) {
    Paths paths = Paths::derive("/Users/alice", Identity::resolve(std::nullopt));
    EXPECT_EQ(paths.stateDir, "/Users/alice/.local/state/lumra-dev");
    EXPECT_EQ(paths.serviceLog, "/Users/alice/Library/Logs/lumra-dev/service.log");
    EXPECT_EQ(paths.sudoers, "/etc/sudoers.d/lumra");
    EXPECT_EQ(paths.launchdLabel, release + ".dev");
    EXPECT_EQ(paths.notifierBundleID, release + ".dev.notifier");
}

} // namespace
