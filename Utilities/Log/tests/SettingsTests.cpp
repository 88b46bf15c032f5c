#include "DeathMessage.hpp"

#include <Log/Fatal.hpp>
#include <Log/Settings.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Log {
void PrintTo(LogLevel level, std::ostream* out) { *out << level.name(); }
void PrintTo(Reach reach, std::ostream* out) { *out << "Reach(" << int(reach.rawValue) << ")"; }
} // namespace Log

namespace {

using Log::Format;
using Log::LogLevel;
using Log::Reach;

const char* const logVariables[] = {"LOG_LEVEL",      "LOG_RECORD_LEVEL", "LOG_FORMAT",      "LOG_TIME",
                                    "LOG_OSLOG",      "LOG_SERVICE",      "LOG_RECORD_FILE", "LOG_SHIP",
                                    "LOG_SHIP_TOKEN", "SHIP_LOG_LEVEL",   "GRANT_LOG_LEVEL", "GRANT_PROBE_LOG_LEVEL"};

// Every logging variable starts unset; each goes back after the test.
class Environment : public TestSupport::ScopedEnvironment {
public:
    Environment() {
        for (const char* name : logVariables) unset(name);
    }
};

using LogTest::fatal;

std::string unknownLevel(std::string_view source, std::string_view value) {
    return fatal(std::string(source) + ": unknown log level \"" + std::string(value) +
                 "\" (want silent, error, warn, info, debug, trace)");
}

const std::vector<std::string> root;
const std::vector<std::string> ship{"SHIP_LOG_LEVEL"};
const std::vector<std::string> grantProbe{"GRANT_PROBE_LOG_LEVEL", "GRANT_LOG_LEVEL"};

// Settings the parent process changes are put back after each test; the
// ones that cannot be cleared (format, service, ship URL and token) are only
// ever set in forked children.
class LogSettings : public testing::Test {
protected:
    void TearDown() override {
        Log::setLogLevel("info");
        Log::setLogRecordLevel("info");
        Log::setLogTime(false);
        Log::setLogOSLog(true);
        Log::setLogRecordFile(std::nullopt);
    }
    Environment env;
};

using LogSettingsDeathTest = LogSettings;

TEST(LogLevelType, RawValuesOrderAndNames) {
    ASSERT_EQ(Log::allLogLevels.size(), 6u);
    const char* names[] = {"silent", "error", "warn", "info", "debug", "trace"};
    for (int raw = 0; raw < 6; ++raw) {
        LogLevel level = Log::allLogLevels[static_cast<size_t>(raw)];
        EXPECT_EQ(level.rawValue(), raw);
        EXPECT_EQ(level.name(), names[raw]);
        EXPECT_EQ(LogLevel::fromRawValue(raw), level);
        if (raw > 0) {
            EXPECT_LT(Log::allLogLevels[static_cast<size_t>(raw - 1)], level);
        }
    }
    EXPECT_EQ(LogLevel::fromRawValue(-1), std::nullopt);
    EXPECT_EQ(LogLevel::fromRawValue(6), std::nullopt);
    EXPECT_TRUE(LogLevel(LogLevel::trace) > LogLevel::debug);
}

TEST(LogLevelType, ParsingIgnoresCaseButNothingElse) {
    EXPECT_EQ(LogLevel::parsing("DEBUG"), LogLevel(LogLevel::debug));
    EXPECT_EQ(LogLevel::parsing("Warn"), LogLevel(LogLevel::warn));
    EXPECT_EQ(LogLevel::parsing("silent"), LogLevel(LogLevel::silent));
    EXPECT_EQ(LogLevel::parsing("tRaCe"), LogLevel(LogLevel::trace));
    for (const char* other : {"", " info", "info ", "inf", "information", "warning", "3", "\u0130NFO", "info\n"})
        EXPECT_EQ(LogLevel::parsing(other), std::nullopt) << other;
}

TEST(FormatType, NamesInAnyCase) {
    EXPECT_EQ(Log::formatNamed("JSON"), Format::json);
    EXPECT_EQ(Log::formatNamed("Human"), Format::human);
    EXPECT_EQ(Log::formatNamed("text"), std::nullopt);
    EXPECT_EQ(Log::formatNamed(" json"), std::nullopt);
    EXPECT_EQ(Log::rawValue(Format::human), "human");
    EXPECT_EQ(Log::rawValue(Format::json), "json");
}

TEST(ReachType, IsATwoBitOptionSet) {
    EXPECT_EQ(Reach::output.rawValue, 1);
    EXPECT_EQ(Reach::record.rawValue, 2);
    Reach both = Reach::output | Reach::record;
    EXPECT_EQ(both.rawValue, 3);
    EXPECT_TRUE(both.contains(Reach::record));
    EXPECT_FALSE(Reach::output.contains(Reach::record));
    EXPECT_TRUE(Reach().empty());
    EXPECT_FALSE(both.empty());
}

TEST(LevelVariable, UppercasesAndReplacesEverythingElse) {
    using Path = std::vector<std::string>;
    EXPECT_EQ(Log::levelVariable(Path{"ship"}), "SHIP_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"grant", "tcc-probe"}), "GRANT_TCC_PROBE_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"a", "b"}), "A_B_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"v2.x"}), "V2_X_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{}), "_LOG_LEVEL");
    // One "_" per character, whether ü is composed or not.
    EXPECT_EQ(Log::levelVariable(Path{"\u00fcber-log"}), "_BER_LOG_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"u\u0308ber-log"}), "_BER_LOG_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"\U0001F468\u200D\U0001F469\u200D\U0001F467x"}), "_X_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"a\r\nb"}), "A_B_LOG_LEVEL");
    // Unicode uppercasing may give ASCII letters.
    EXPECT_EQ(Log::levelVariable(Path{"stra\u00dfe"}), "STRASSE_LOG_LEVEL");
    EXPECT_EQ(Log::levelVariable(Path{"bad\xff"}), "BAD__LOG_LEVEL");
}

TEST_F(LogSettings, StartValues) {
    Log::Settings settings = Log::currentSettings();
    EXPECT_EQ(settings.level, LogLevel(LogLevel::info));
    EXPECT_EQ(settings.recordLevel, LogLevel(LogLevel::info));
    EXPECT_EQ(settings.format, std::nullopt);
    EXPECT_FALSE(settings.time);
    EXPECT_EQ(settings.service, std::nullopt);
    EXPECT_EQ(settings.shipURL, std::nullopt);
    EXPECT_EQ(settings.shipToken, std::nullopt);
    EXPECT_TRUE(settings.systemLog);
    EXPECT_EQ(settings.recordFile, std::nullopt);
}

// Re-executed, so that whether standard error is a terminal is asked afresh;
// a death test's standard error is a pipe.
TEST_F(LogSettings, WithNothingSetAndNoTerminalTheLogIsJSONAtInfo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bool defaults = !Log::standardErrorIsTerminal() && Log::format() == Format::json &&
                            Log::threshold(root) == LogLevel::info && Log::recordLevel() == LogLevel::info &&
                            !Log::timeOn() && Log::osLogOn() && Log::recording() && !Log::recordFile() &&
                            !Log::shipURL() && !Log::shipToken();
            std::exit(defaults ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(LogSettings, ATerminalGetsHumanLinesAndTheAnswerIsKept) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) std::exit(2);
            int side = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
            if (side < 0 || ::dup2(side, STDERR_FILENO) < 0) std::exit(3);
            bool human = Log::format() == Format::human;
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
            std::exit(human && Log::format() == Format::human && Log::standardErrorIsTerminal() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(LogSettings, AnEmptyVariableCountsAsUnset) {
    Log::setLogLevel("warn");
    env.set("LOG_LEVEL", "");
    EXPECT_EQ(Log::threshold(root), LogLevel::warn);
    env.set("LOG_SERVICE", "");
    EXPECT_EQ(Log::service(), "Log_tests");
    EXPECT_EQ(Log::env("LOG_LEVEL"), std::nullopt);
    env.set("LOG_LEVEL", " ");
    EXPECT_EQ(Log::env("LOG_LEVEL"), std::optional<std::string_view>(" "));
}

TEST_F(LogSettings, VariablesOverrideSettingsOnlyWhileSet) {
    Log::setLogLevel("warn");
    EXPECT_EQ(Log::threshold(root), LogLevel::warn);
    env.set("LOG_LEVEL", "debug");
    EXPECT_EQ(Log::threshold(root), LogLevel::debug);
    env.set("LOG_LEVEL", "DEBUG");
    EXPECT_EQ(Log::threshold(root), LogLevel::debug);
    env.unset("LOG_LEVEL");
    EXPECT_EQ(Log::threshold(root), LogLevel::warn);
}

TEST_F(LogSettings, TheMostSpecificScopeVariableWins) {
    env.set("SHIP_LOG_LEVEL", "trace");
    env.set("LOG_LEVEL", "error");
    EXPECT_TRUE(Log::reach(LogLevel::debug, ship).contains(Reach::output));
    EXPECT_FALSE(Log::reach(LogLevel::debug, root).contains(Reach::output));
    EXPECT_EQ(Log::threshold(ship), LogLevel::trace);
    EXPECT_EQ(Log::threshold(root), LogLevel::error);

    env.set("GRANT_PROBE_LOG_LEVEL", "debug");
    env.set("GRANT_LOG_LEVEL", "bogus"); // never read: the probe's own variable is set
    EXPECT_EQ(Log::threshold(grantProbe), LogLevel::debug);
}

TEST_F(LogSettings, WritersDeeperThanTheLookupTableStillFindTheirVariable) {
    std::vector<std::string> deep;
    for (int i = 0; i < 20; ++i) deep.push_back("DEEP" + std::to_string(i) + "_LOG_LEVEL");
    env.set("DEEP17_LOG_LEVEL", "trace");
    env.set("DEEP19_LOG_LEVEL", "error");
    env.set("LOG_LEVEL", "warn");
    EXPECT_EQ(Log::threshold(deep), LogLevel::trace);
    EXPECT_EQ(Log::reach(LogLevel::trace, std::span(deep).subspan(18)), Reach());
}

// Replaces the whole environment, so only a forked child calls it.
// The entries outlive the call: exit handlers of linked libraries may read
// the environment too.
bool readsOddEnvironment() {
    static char empty[] = "";
    static char noValue[] = "LOG_LEVEL";
    static char prefixOnly[] = "LO";
    static char longer[] = "LOG_LEVELS=error";
    static char first[] = "LOG_LEVEL=debug";
    static char second[] = "LOG_LEVEL=error";
    static char scoped[] = "GRANT_LOG_LEVEL=";
    static char* entries[] = {empty, noValue, prefixOnly, longer, first, second, scoped, nullptr};
    environ = entries;
    return Log::threshold(grantProbe) == LogLevel::debug && Log::env("LOG_LEVEL") == "debug";
}

// The environment is read in place: odd entries are skipped, and the first
// entry of a name wins, as getenv has it.
TEST_F(LogSettings, EnvironmentEntriesOfAnyShape) {
    EXPECT_EXIT(std::exit(readsOddEnvironment() ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST_F(LogSettingsDeathTest, AnUnknownLevelStopsTheProcessAtItsFirstUse) {
    env.set("LOG_LEVEL", "verbose");
    EXPECT_DEATH(Log::reach(LogLevel::info, root), unknownLevel("LOG_LEVEL", "verbose"));
    env.set("LOG_LEVEL", " info");
    EXPECT_DEATH(Log::threshold(root), unknownLevel("LOG_LEVEL", " info"));
}

// A bad scope variable only hurts writers in that scope, even when a more
// general variable would be valid.
TEST_F(LogSettingsDeathTest, ABadScopeVariableIsFatalOnlyInsideItsScope) {
    env.set("GRANT_LOG_LEVEL", "Bogus");
    env.set("LOG_LEVEL", "debug");
    EXPECT_EQ(Log::threshold(root), LogLevel::debug);
    EXPECT_EQ(Log::threshold(ship), LogLevel::debug);
    EXPECT_DEATH(Log::reach(LogLevel::info, grantProbe), unknownLevel("GRANT_LOG_LEVEL", "Bogus"));
}

struct RouteRow {
    const char* level;
    const char* osLog;
    const char* recordFile;
    const char* recordLevel;
    LogLevel event;
    Reach expected;
};

class Routing : public LogSettings, public testing::WithParamInterface<RouteRow> {};

TEST_P(Routing, SendsTheEventWhereTheLevelsAllow) {
    const RouteRow& row = GetParam();
    env.set("LOG_LEVEL", row.level);
    env.set("LOG_OSLOG", row.osLog);
    env.set("LOG_RECORD_FILE", row.recordFile);
    env.set("LOG_RECORD_LEVEL", row.recordLevel);
    EXPECT_EQ(Log::reach(row.event, root), row.expected);
}

const Reach none{};
const Reach both = Reach::output | Reach::record;

INSTANTIATE_TEST_SUITE_P(
    LevelsAndSinks, Routing,
    testing::Values(RouteRow{"", "", "", "", LogLevel::info, both}, RouteRow{"", "", "", "", LogLevel::debug, none},
                    RouteRow{"", "", "", "", LogLevel::error, both},
                    RouteRow{"silent", "0", "", "", LogLevel::error, none},
                    RouteRow{"silent", "", "", "", LogLevel::error, Reach::record},
                    RouteRow{"trace", "0", "", "", LogLevel::trace, Reach::output},
                    RouteRow{"error", "0", "/tmp/events.jsonl", "trace", LogLevel::trace, Reach::record},
                    RouteRow{"error", "1", "", "warn", LogLevel::error, both},
                    RouteRow{"warn", "1", "", "error", LogLevel::warn, Reach::output},
                    // Not recording: a bad record level is never read.
                    RouteRow{"debug", "0", "", "loud", LogLevel::debug, Reach::output}));

TEST_F(LogSettings, RecordingFollowsTheSystemLogAndTheRecordFile) {
    Log::setLogOSLog(false);
    EXPECT_FALSE(Log::recording());
    Log::setLogRecordFile("/tmp/events.jsonl");
    EXPECT_TRUE(Log::recording());
    EXPECT_EQ(Log::recordFile(), "/tmp/events.jsonl");
    env.set("LOG_RECORD_FILE", "/var/tmp/other.jsonl");
    EXPECT_EQ(Log::recordFile(), "/var/tmp/other.jsonl");
    Log::setLogRecordFile(std::nullopt);
    EXPECT_TRUE(Log::recording());
    env.unset("LOG_RECORD_FILE");
    EXPECT_FALSE(Log::recording());
    env.set("LOG_OSLOG", "1");
    EXPECT_TRUE(Log::recording());
}

TEST_F(LogSettings, RecordLevelComesFromItsVariableOrSetting) {
    Log::setLogRecordLevel("error");
    EXPECT_EQ(Log::recordLevel(), LogLevel::error);
    EXPECT_EQ(Log::reach(LogLevel::warn, root), Reach::output);
    env.set("LOG_RECORD_LEVEL", "TRACE");
    EXPECT_EQ(Log::recordLevel(), LogLevel::trace);
}

TEST_F(LogSettingsDeathTest, ABadRecordLevelIsFatalWhileRecording) {
    env.set("LOG_RECORD_LEVEL", "loud");
    env.set("LOG_OSLOG", "0");
    env.set("LOG_RECORD_FILE", "/tmp/events.jsonl");
    EXPECT_DEATH(Log::reach(LogLevel::error, root), unknownLevel("LOG_RECORD_LEVEL", "loud"));
}

// At silent with nothing recording, an event reaches no sink: the caller
// drops it before computing any field.
TEST_F(LogSettings, SilentWithoutRecordingReachesNothing) {
    Log::setLogLevel("silent");
    Log::setLogOSLog(false);
    for (LogLevel level : {LogLevel::error, LogLevel::warn, LogLevel::info, LogLevel::debug, LogLevel::trace})
        EXPECT_TRUE(Log::reach(level, root).empty()) << level.name();
}

TEST_F(LogSettings, FlagsAreExactlyOneOrZero) {
    EXPECT_FALSE(Log::timeOn());
    env.set("LOG_TIME", "1");
    EXPECT_TRUE(Log::timeOn());
    Log::setLogTime(true);
    env.set("LOG_TIME", "0");
    EXPECT_FALSE(Log::timeOn());
    env.unset("LOG_TIME");
    EXPECT_TRUE(Log::timeOn());

    env.set("LOG_OSLOG", "0");
    EXPECT_FALSE(Log::osLogOn());
    env.unset("LOG_OSLOG");
    Log::setLogOSLog(false);
    EXPECT_FALSE(Log::osLogOn());
}

TEST_F(LogSettingsDeathTest, AnyOtherFlagValueIsFatal) {
    env.set("LOG_TIME", "true");
    EXPECT_DEATH(Log::timeOn(), fatal("LOG_TIME: unknown value \"true\" (want 1, 0)"));
    env.set("LOG_OSLOG", "01");
    EXPECT_DEATH(Log::recording(), fatal("LOG_OSLOG: unknown value \"01\" (want 1, 0)"));
}

TEST_F(LogSettings, FormatFromVariableThenSetting) {
    env.set("LOG_FORMAT", "JSON");
    EXPECT_EQ(Log::format(), Format::json);
    env.set("LOG_FORMAT", "human");
    EXPECT_EQ(Log::format(), Format::human);
    env.unset("LOG_FORMAT");
    EXPECT_EXIT(
        {
            Log::setLogFormat("HUMAN");
            bool human = Log::format() == Format::human && Log::currentSettings().format == Format::human;
            ::setenv("LOG_FORMAT", "json", 1);
            std::exit(human && Log::format() == Format::json ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(LogSettingsDeathTest, BadFormatsAndLevelsGivenInCodeAreFatal) {
    env.set("LOG_FORMAT", "Yaml");
    EXPECT_DEATH(Log::format(), fatal("LOG_FORMAT: unknown format \"Yaml\" (want human, json)"));
    EXPECT_DEATH(Log::setLogFormat("xml"), fatal("setLogFormat: unknown format \"xml\" (want human, json)"));
    EXPECT_DEATH(Log::setLogLevel("Loud"), unknownLevel("setLogLevel", "Loud"));
    EXPECT_DEATH(Log::setLogRecordLevel(""), unknownLevel("setLogRecordLevel", ""));
}

TEST_F(LogSettingsDeathTest, EmptyTextsWhereAValueIsRequiredAreProgrammingErrors) {
    EXPECT_DEATH(Log::setLogService(""), fatal("setLogService: the service name is empty"));
    EXPECT_DEATH(Log::setLogShipToken(""), fatal("setLogShipToken: the token is empty"));
    EXPECT_DEATH(Log::setLogRecordFile(""), fatal("setLogRecordFile: the path is empty"));
    EXPECT_DEATH(Log::reach(LogLevel::silent, root), fatal("reach: no event has the level silent"));
}

TEST_F(LogSettings, ServiceFromVariableThenSettingThenProcessName) {
    EXPECT_EQ(Log::service(), "Log_tests");
    env.set("LOG_SERVICE", "probe helper");
    EXPECT_EQ(Log::service(), "probe helper");
    env.unset("LOG_SERVICE");
    EXPECT_EXIT(
        {
            Log::setLogService("lumra");
            bool set = Log::service() == "lumra";
            ::setenv("LOG_SERVICE", "other", 1);
            std::exit(set && Log::service() == "other" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// Started again under another name by ServiceName.TheProcessNameLosesOneExtension,
// this test program prints the service name it gets and exits before any test runs.
const bool servicePrinted = [] {
    if (std::getenv("LOG_TESTS_PRINT_SERVICE") == nullptr) return false;
    std::printf("service=%s\n", Log::service().c_str());
    std::fflush(stdout);
    std::_Exit(0);
}();

TEST(ServiceName, TheProcessNameLosesOneExtension) {
    TestSupport::TempDir dir;
    for (auto [name, expected] :
         {std::pair{"probe.bin", "probe"}, std::pair{"probe.tar.gz", "probe.tar"}, std::pair{".hidden", ".hidden"}}) {
        std::filesystem::create_symlink(std::filesystem::read_symlink("/proc/self/exe"), dir / name);
        auto run = TestSupport::runProcess(dir / name, {}, {{"LOG_SERVICE", ""}, {"LOG_TESTS_PRINT_SERVICE", "1"}});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, testing::HasSubstr("service=" + std::string(expected) + "\n")) << name;
    }
}

TEST_F(LogSettings, ShipURLAndTokenFromVariableThenSetting) {
    env.set("LOG_SHIP", "https://collector.example/v1/logs");
    EXPECT_EQ(Log::shipURL(), "https://collector.example/v1/logs");
    env.set("LOG_SHIP_TOKEN", "secret");
    EXPECT_EQ(Log::shipToken(), "secret");
    env.unset("LOG_SHIP");
    env.unset("LOG_SHIP_TOKEN");
    EXPECT_EXIT(
        {
            Log::setLogShip("http://127.0.0.1:4318/logs?x=1");
            Log::setLogShipToken("t0k");
            std::exit(Log::shipURL() == "http://127.0.0.1:4318/logs?x=1" && Log::shipToken() == "t0k" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(LogSettings, ShipURLsNeedHTTPAndAHost) {
    for (const char* url : {"http://collector", "https://user:pw@collector.example:8443/path#frag", "http://[::1]:80/",
                            "https://h/a%20b", "http://host:"})
        EXPECT_EQ(Log::parseShip("LOG_SHIP", url), url);
}

TEST_F(LogSettingsDeathTest, AnythingElseAsShipURLIsFatal) {
    auto unknownURL = [](std::string_view source, std::string_view url) {
        return fatal(std::string(source) + ": unknown URL \"" + std::string(url) + "\" (want an http(s) URL)");
    };
    for (const char* url : {"ftp://collector/", "HTTP://collector", "https://", "http:collector", "http:///path",
                            "http://user@/", "http://host:port/", "http://a b/", "collector.example", ""})
        EXPECT_DEATH(Log::parseShip("LOG_SHIP", url), unknownURL("LOG_SHIP", url)) << url;
    EXPECT_DEATH(Log::setLogShip("mailto:x@y"), unknownURL("setLogShip", "mailto:x@y"));
    env.set("LOG_SHIP", "udp://collector");
    EXPECT_DEATH(Log::shipURL(), unknownURL("LOG_SHIP", "udp://collector"));
}

// Settings changes and event checks from several threads; the sanitizer
// builds look for races.
TEST_F(LogSettings, ThreadsChangeAndReadSettingsTogether) {
    std::thread writer([] {
        for (int i = 0; i < 2000; ++i) {
            Log::setLogLevel(i % 2 ? "debug" : "warn");
            Log::setLogRecordFile(i % 2 ? std::optional<std::string_view>("/tmp/a") : std::nullopt);
        }
    });
    bool onlyKnownValues = true;
    for (int i = 0; i < 2000; ++i) {
        LogLevel level = Log::threshold(root);
        onlyKnownValues &= level == LogLevel::debug || level == LogLevel::warn || level == LogLevel::info;
        auto file = Log::recordFile();
        onlyKnownValues &= !file || *file == "/tmp/a";
    }
    writer.join();
    EXPECT_TRUE(onlyKnownValues);
}

} // namespace
