#include "OutputCapture.hpp"

#include <Log/Output.hpp>
#include <Log/RecordFile.hpp>
#include <Log/Writer.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Log::Event;
using Log::Fields;
using Log::Reach;
using Log::Verb;
using nlohmann::json;
using Platform::SystemLogType;

class Output : public testing::Test {
protected:
    LogTest::Environment env;
};

Event sample() {
    Event event;
    event.time = Log::Date(1772356502347ms);
    event.verb = Verb::success;
    event.msg = "copied";
    event.service = "probe";
    event.scope = {"install"};
    event.fields = Log::encodeFields({{"bytes", 512}, {"path", "/tmp/a b"}});
    return event;
}

TEST_F(Output, AJSONLineIsWrittenAsItIsWithALineFeed) {
    LogTest::CapturedStandardError err;
    Log::emit(sample(), Reach::output);
    EXPECT_EQ(err.text(), sample().json() + "\n");
}

TEST_F(Output, HumanLinesFollowTheFormatClockAndColourOfTheMoment) {
    env.set("LOG_FORMAT", "human");
    env.set("FORCE_COLOR", "0");
    env.set("TZ", "UTC");
    ::tzset();
    LogTest::CapturedStandardError err;
    Log::emit(sample(), Reach::output);
    env.set("LOG_TIME", "1");
    Log::emit(sample(), Reach::output);
    env.set("FORCE_COLOR", "1");
    env.set("LOG_TIME", "0");
    Log::emit(sample(), Reach::output);
    EXPECT_EQ(err.text(), "\u2713 [install] copied bytes=512 path=\"/tmp/a b\"\n"
                          "09:15:02 \u2713 [install] copied bytes=512 path=\"/tmp/a b\"\n"
                          "\x1B[32m\x1B[1m\u2713\x1B[0m \x1B[2m[install]\x1B[0m copied \x1B[2mbytes=512\x1B[0m "
                          "\x1B[2mpath=\"/tmp/a b\"\x1B[0m\n");
    env.unset("TZ");
    ::tzset();
}

TEST_F(Output, HumanLinesIndentBySpanNesting) {
    env.set("LOG_FORMAT", "human");
    env.set("FORCE_COLOR", "0");
    LogTest::CapturedStandardError err;
    Log::log.scope("install").span("move", [](Log::Span& span) {
        span.step("copy");
        span.span("sign", [](Log::Span& inner) { inner.info("signed"); });
    });
    auto lines = err.lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "\u25CB [install] move");
    EXPECT_EQ(lines[1], "    \u2022 [install] copy");
    EXPECT_EQ(lines[2], "  \u25CB [install] sign");
    EXPECT_EQ(lines[3], "      [install] signed"); // two levels, then the blank glyph of info
    EXPECT_THAT(lines[4], testing::MatchesRegex("  \u2713 \\[install\\] sign [0-9.]+(ms|s)"));
    EXPECT_THAT(lines[5], testing::MatchesRegex("\u2713 \\[install\\] move [0-9.]+(ms|s)"));
}

// A pseudo-terminal stands in for a terminal the test may not have.
class Terminal {
public:
    Terminal() {
        main_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (main_ >= 0 && ::grantpt(main_) == 0 && ::unlockpt(main_) == 0)
            side_ = ::open(::ptsname(main_), O_RDWR | O_NOCTTY);
    }
    ~Terminal() {
        if (side_ >= 0) ::close(side_);
        if (main_ >= 0) ::close(main_);
    }
    int fd() const { return side_; }

private:
    int main_ = -1;
    int side_ = -1;
};

TEST_F(Output, ColourOnATerminalUnlessTheEnvironmentSaysNo) {
    Terminal terminal;
    if (terminal.fd() < 0) GTEST_SKIP() << "this machine gives no pseudo-terminal";
    TestSupport::TempDir dir;
    int file = ::open((dir / "plain").c_str(), O_WRONLY | O_CREAT, 0600);
    EXPECT_TRUE(Log::color(terminal.fd()));
    EXPECT_FALSE(Log::color(file));
    env.set("FORCE_COLOR", "0");
    EXPECT_FALSE(Log::color(terminal.fd()));
    env.set("FORCE_COLOR", "1");
    EXPECT_TRUE(Log::color(file));
    env.unset("FORCE_COLOR");
    env.set("NO_COLOR", "anything");
    EXPECT_FALSE(Log::color(terminal.fd()));
    env.set("NO_COLOR", "");
    EXPECT_TRUE(Log::color(terminal.fd()));
    env.set("TERM", "dumb");
    EXPECT_FALSE(Log::color(terminal.fd()));
    env.set("TERM", "xterm-256color");
    EXPECT_TRUE(Log::color(terminal.fd()));
    // Standard error answers as it was at the start, whatever fd 2 is now.
    env.unset("TERM");
    EXPECT_EQ(Log::color(STDERR_FILENO), Log::standardErrorIsTerminal());
    ::close(file);
}

TEST_F(Output, TheSystemLogGetsTheJSONLineUnderTheScopesCategory) {
    LogTest::RecordingSystemLog systemLog;
    env.set("LOG_OSLOG", "1");
    env.set("LOG_RECORD_LEVEL", "debug");
    LogTest::CapturedStandardError err;
    Log::log.info("plain");
    Log::log.scope("grant").scope("probe").error("broken");
    Log::log.scope("grant").debug("detail"); // recorded, not shown
    Log::log.scope("install").warn("odd");
    auto lines = systemLog.lines();
    auto shown = err.lines();
    ASSERT_EQ(lines.size(), 4u);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(lines[0].category, "root");
    EXPECT_EQ(lines[0].type, SystemLogType::standard);
    EXPECT_EQ(lines[0].text, shown[0]);
    EXPECT_EQ(lines[1].category, "grant.probe");
    EXPECT_EQ(lines[1].type, SystemLogType::error);
    EXPECT_EQ(lines[1].text, shown[1]);
    EXPECT_EQ(lines[2].category, "grant");
    EXPECT_EQ(lines[2].type, SystemLogType::debug);
    EXPECT_EQ(json::parse(lines[2].text)["msg"], "detail");
    EXPECT_EQ(lines[3].type, SystemLogType::standard);
    EXPECT_FALSE(lines[0].subsystem.empty());
    EXPECT_EQ(lines[0].subsystem, lines[3].subsystem);
}

TEST_F(Output, TheSystemLogIsSkippedWhenOffOrTheTypeIsDisabled) {
    LogTest::RecordingSystemLog systemLog;
    systemLog.disable(SystemLogType::error);
    env.set("LOG_OSLOG", "1");
    LogTest::CapturedStandardError err;
    Log::log.error("not kept");
    Log::log.info("kept");
    env.set("LOG_OSLOG", "0");
    Log::log.info("off");
    auto lines = systemLog.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(json::parse(lines[0].text)["msg"], "kept");
    EXPECT_EQ(err.lines().size(), 3u);
}

TEST_F(Output, TheSystemLogSubsystemIsTheServiceOutsideABundle) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        LogTest::RecordingSystemLog systemLog;
        env.set("LOG_OSLOG", "1");
        env.set("LOG_SERVICE", "probe");
        env.set("LOG_LEVEL", "silent");
        Log::log.info("x");
        env.set("LOG_SERVICE", "other"); // decided once
        Log::log.info("y");
        auto lines = systemLog.lines();
        if (lines.size() != 2) return std::string("want two lines");
        if (lines[0].subsystem != "probe" || lines[1].subsystem != "probe")
            return "subsystem " + lines[0].subsystem + ", " + lines[1].subsystem;
        return std::string();
    });
}

TEST_F(Output, RecordedLinesGoToTheRecordFileOnly) {
    TestSupport::TempDir dir;
    env.set("LOG_LEVEL", "silent");
    env.set("LOG_RECORD_FILE", (dir / "logs" / "events.jsonl").string());
    LogTest::CapturedStandardError err;
    Log::log.scope("install").info("copied", [] { return Fields{{"bytes", 512}}; });
    Log::log.debug("below the record level");
    EXPECT_EQ(err.text(), "");
    auto lines = TestSupport::lines(dir / "logs" / "events.jsonl");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(json::parse(lines[0])["fields"], json({{"bytes", 512}}));
    struct stat status {};
    ASSERT_EQ(::stat((dir / "logs").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(Output, ARecordFileThatCannotBeWrittenIsReportedOnce) {
    LogTest::inFreshProcess([] {
        LogTest::Environment env;
        TestSupport::TempDir dir;
        std::string path = (dir / "missing" / "deeper" / "events.jsonl").string();
        env.set("LOG_RECORD_FILE", path);
        LogTest::CapturedStandardError err;
        Log::log.info("first");
        Log::log.info("second");
        auto events = err.events();
        err.restore();
        if (events.size() != 3) return "want three lines, got " + std::to_string(events.size());
        json want = {{"errno", ENOENT}, {"file", path}};
        const auto& warning = events[1];
        if (warning["msg"] != "record file not written" || warning["scope"] != json({"record"}) ||
            warning["verb"] != "warn" || warning["fields"] != want)
            return "wrong warning: " + warning.dump();
        if (events[2]["msg"] != "second") return "wrong last line: " + events[2].dump();
        return std::string();
    });
}

TEST_F(Output, WriteAllStopsQuietlyOnAClosedDescriptor) {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    Log::writeAll(pipe[1], "whole line\n");
    char text[32] = {};
    EXPECT_EQ(::read(pipe[0], text, sizeof text), 11);
    ::close(pipe[0]);
    ::close(pipe[1]);
    Log::writeAll(pipe[1], "lost"); // EBADF: nothing happens
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old {};
    ::sigaction(SIGPIPE, &ignore, &old);
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);
    Log::writeAll(pipe[1], "nobody reads"); // EPIPE: nothing happens
    ::close(pipe[1]);
    ::sigaction(SIGPIPE, &old, nullptr);
}

// 8 threads log at once into a record file that rotates at 4 MiB, and the
// file is deleted once while they run: every line of the current and the
// previous file is whole, each thread's lines keep their order, and lines
// are missing only where the deleted file was.
TEST_F(Output, ThreadsRecordWholeLinesThroughRotationAndDeletion) {
    constexpr int threads = 8;
    constexpr int perThread = 10000;
    TestSupport::TempDir dir;
    const auto path = dir / "events.jsonl";
    const auto previous = dir / "events.1.jsonl";
    env.set("LOG_LEVEL", "silent");
    env.set("LOG_RECORD_FILE", path.string());
    env.set("LOG_SERVICE", "burst");

    std::atomic<bool> deleted{false};
    std::atomic<int> running{threads};
    std::atomic<int> logged{0};
    // Deletes the current file once, three quarters through, so that more
    // lines follow into a new file.
    std::thread deleter([&] {
        while (running.load() > 0) {
            if (logged.load(std::memory_order_relaxed) >= threads * perThread * 3 / 4 && ::unlink(path.c_str()) == 0) {
                deleted = true;
                return;
            }
            std::this_thread::yield();
        }
    });
    const std::string padding(60, '.');
    std::vector<std::thread> loggers;
    for (int t = 0; t < threads; ++t)
        loggers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                Log::log.info("burst", [&] { return Fields{{"i", i}, {"pad", padding}, {"t", t}}; });
                logged.fetch_add(1, std::memory_order_relaxed);
            }
            running.fetch_sub(1);
        });
    for (auto& thread : loggers) thread.join();
    deleter.join();
    ASSERT_TRUE(deleted) << "the file was never deleted";

    std::vector<std::string> lines = TestSupport::lines(previous);
    for (auto& line : TestSupport::lines(path)) lines.push_back(std::move(line));
    ASSERT_GT(lines.size(), 20000u);
    EXPECT_LE(std::filesystem::file_size(previous), 4194304u + 200u);

    // Where a thread's sequence jumps, it must jump over one place in the
    // global order: the lines the deleted file took with it, between the
    // end of the previous file and the start of the new one.
    const size_t previousLines = TestSupport::lines(previous).size();
    std::vector<int> last(threads, -1);
    std::vector<size_t> lastIndex(threads, 0);
    size_t latestBeforeAJump = 0;
    size_t earliestAfterAJump = lines.size();
    int jumps = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        json event;
        try {
            event = json::parse(lines[n]);
        } catch (const json::exception&) {
            FAIL() << "line " << n << " is not one JSON line: " << lines[n];
        }
        ASSERT_EQ(event["msg"], "burst") << lines[n];
        int t = event["fields"]["t"];
        int i = event["fields"]["i"];
        ASSERT_GT(i, last[t]) << "thread " << t << " out of order at line " << n;
        if (last[t] >= 0 && i != last[t] + 1) {
            ++jumps;
            latestBeforeAJump = std::max(latestBeforeAJump, lastIndex[t]);
            earliestAfterAJump = std::min(earliestAfterAJump, n);
        }
        last[t] = i;
        lastIndex[t] = n;
    }
    // A thread that finished early may have had its last lines in the
    // deleted file: that is a jump past the end.
    for (int t = 0; t < threads; ++t) {
        if (last[t] < 0 || last[t] == perThread - 1) continue;
        ++jumps;
        latestBeforeAJump = std::max(latestBeforeAJump, lastIndex[t]);
    }
    EXPECT_LE(jumps, threads) << "a thread lost lines in more than one place";
    if (jumps > 0) {
        EXPECT_LT(latestBeforeAJump, previousLines);
        EXPECT_GE(earliestAfterAJump, previousLines);
    }
}

} // namespace
