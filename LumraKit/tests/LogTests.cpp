#include <LumraKit/Identity.hpp>
#include <LumraKit/Log.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

using TestSupport::contents;

using namespace std::chrono_literals;

TEST(EngineLog, LineIsTimeSpaceMessageNewline) {
    EXPECT_EQ(LumraKit::logLine(Platform::Date(1767225600s + 750ms), "claim ended"),
              "2026-01-01T00:00:00Z claim ended\n");
}

// Text from outside (a hook, a request, a notification) stays inside its
// one line: no forged entries, no terminal escapes.
TEST(EngineLog, ControlCharactersAreSpelledOut) {
    struct Case {
        std::string message;
        std::string written;
    };
    const Case cases[] = {
        {"hook: x\n2026-01-01T00:00:00Z forged", "hook: x\\n2026-01-01T00:00:00Z forged"},
        {"a\r\tb", "a\\r\\tb"},
        {std::string("nul\0bell\a", 9), "nul\\x00bell\\x07"},
        {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f"},
        {"csi \xC2\x9B next \xC2\x85", "csi \\u009b next \\u0085"},
        {"caf\xC3\xA9 \xC2\xA0 back\\slash \xE2\x80\xA8", "caf\xC3\xA9 \xC2\xA0 back\\slash \xE2\x80\xA8"},
        {"cut \xC2", "cut \xC2"},
    };
    for (const auto& [message, written] : cases)
        EXPECT_EQ(LumraKit::logLine(Platform::Date(1767225600s), message), "2026-01-01T00:00:00Z " + written + "\n")
            << message;
}

TEST(EngineLog, WritesOneLineToStandardError) {
    testing::internal::CaptureStderr();
    LumraKit::log("apply: nothing to do");
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_THAT(written, testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z "
                                               "apply: nothing to do\n"));
}

// The redirection changes the whole process's file descriptors, so each case
// runs in a forked child (the parent's temporary folder must be the child's).
TEST(ServiceLogRedirect, SendsBothOutputsToTheServiceLog) {
    TestSupport::TempDir home;
    auto logDir = home / "Library/Logs/lumra";
    EXPECT_EXIT(
        {
            LumraKit::Paths::redirectOutput(logDir, logDir / "service.log");
            std::printf("from standard output\n");
            LumraKit::log("from standard error");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    std::string log = contents(logDir / "service.log");
    EXPECT_THAT(log, testing::HasSubstr("from standard output\n"));
    EXPECT_THAT(log, testing::HasSubstr("Z from standard error\n"));
}

TEST(ServiceLogRedirect, AppendsToAnExistingLog) {
    TestSupport::TempDir home;
    std::ofstream(home / "service.log") << "earlier line\n";
    EXPECT_EXIT(
        {
            LumraKit::Paths::redirectOutput(home.path(), home / "service.log");
            LumraKit::log("later line");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_THAT(contents(home / "service.log"), testing::MatchesRegex("earlier line\n.*Z later line\n"));
}

TEST(ServiceLogRedirect, KeepsOutputWhereItWasWhenTheLogCannotBeOpened) {
    TestSupport::TempDir home;
    std::ofstream(home / "not-a-folder") << "";
    EXPECT_EXIT(
        {
            LumraKit::Paths::redirectOutput(home / "not-a-folder", home / "not-a-folder/service.log");
            LumraKit::log("still on standard error");
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "cannot open the service log .*not-a-folder/service.log.*\n.*still on standard error");
}

} // namespace
