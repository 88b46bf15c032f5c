#include "Options.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Lumrad::Options;
using Lumrad::parseOptions;
using Lumrad::UsageError;

Options parsed(const std::vector<std::string>& arguments) {
    auto result = parseOptions(arguments);
    if (auto* error = std::get_if<UsageError>(&result)) ADD_FAILURE() << error->message;
    return std::holds_alternative<Options>(result) ? std::get<Options>(result) : Options{};
}

std::string refused(const std::vector<std::string>& arguments) {
    auto result = parseOptions(arguments);
    return std::holds_alternative<UsageError>(result) ? std::get<UsageError>(result).message : "(accepted)";
}

TEST(Options, TakeValuesInTheNextArgumentOrAfterAnEqualsSign) {
    EXPECT_EQ(parsed({}).tick, 10s);
    Options options = parsed({"--tick", "2.5", "--service-log", "--notifier", "/opt/notifier"});
    EXPECT_EQ(options, (Options{2500ms, true, "/opt/notifier", std::nullopt, false, false}));
    EXPECT_EQ(parsed({"--tick=30", "--notifier=relative/notifier", "--update-feed=https://example.org/v"}),
              (Options{30s, false, "relative/notifier", "https://example.org/v", false, false}));
    EXPECT_EQ(parsed({"--update-feed", "http://127.0.0.1:8080/latest"}).updateFeed, "http://127.0.0.1:8080/latest");
    // A help or a version stops the reading, whatever follows.
    EXPECT_TRUE(parsed({"--tick", "5", "-h", "--frobnicate"}).help);
    EXPECT_TRUE(parsed({"--version", "--frobnicate"}).version);
}

// The shortest tick is a millisecond, the longest a day.
TEST(Options, ATickIsAPositiveNumberOfSecondsUpToADay) {
    EXPECT_EQ(parsed({"--tick", "0.0001"}).tick, 1ms);
    EXPECT_EQ(parsed({"--tick", "0.0011"}).tick, 2ms);
    EXPECT_EQ(parsed({"--tick", "86400"}).tick, 86400s);
    for (const char* bad : {"0", "-1", "86400.5", "1e300", "abc", "5s", " 5", "inf", "nan", ""})
        EXPECT_EQ(refused({"--tick", bad}),
                  "--tick takes a positive number of seconds up to 86400, not \"" + std::string(bad) + "\"");
    EXPECT_EQ(refused({"--tick"}), "--tick needs a number of seconds");
}

TEST(Options, HostIsTheSimulatedMacUnlessLinuxIsAskedFor) {
    EXPECT_EQ(parsed({}).host, Lumrad::Host::mac);
    EXPECT_EQ(parsed({"--host", "linux"}).host, Lumrad::Host::linux);
    EXPECT_EQ(parsed({"--host=linux", "--host", "mac"}).host, Lumrad::Host::mac);
    for (const char* bad : {"Linux", "windows", ""})
        EXPECT_EQ(refused({"--host", bad}), "--host takes mac or linux, not \"" + std::string(bad) + "\"");
    EXPECT_EQ(refused({"--host"}), "--host needs mac or linux");
}

TEST(Options, RefuseWhatTheyDoNotKnow) {
    EXPECT_EQ(refused({"--verbose", "--help"}), "unknown option --verbose");
    EXPECT_EQ(refused({"serve"}), "unexpected argument \"serve\"");
    EXPECT_EQ(refused({"--notifier="}), "--notifier needs the path of the notifier program");
    EXPECT_EQ(refused({"--service-log=yes"}), "--service-log takes no value");
    EXPECT_EQ(refused({"--version=2"}), "--version takes no value");
    for (const char* bad : {"example.org/v", "file:///etc/passwd", ""})
        EXPECT_EQ(refused({"--update-feed", bad}), "--update-feed needs an http:// or https:// URL") << bad;
    EXPECT_EQ(refused({"--update-feed"}), "--update-feed needs an http:// or https:// URL");
}

} // namespace
