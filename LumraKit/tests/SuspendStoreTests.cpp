#include "FailingWrites.hpp"

#include <LumraKit/SuspendStore.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using LumraKit::SuspendStore;
using TestSupport::contents;
using TestSupport::writeFile;

const Platform::Date boot{1767225600s}; // 2026-01-01T00:00:00Z

struct SuspendStoreTest : testing::Test {
    TestSupport::TempDir state;
    int bootReads = 0;
    Platform::Date bootTime = boot;
    SuspendStore store{state / "lumra/suspended.json", [this] {
                           ++bootReads;
                           return bootTime;
                       }};

    std::string logDuring(const std::function<void()>& body) {
        testing::internal::CaptureStderr();
        body();
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(SuspendStoreTest, NoFileMeansNotSuspended) {
    EXPECT_EQ(store.load(), std::nullopt);
    EXPECT_EQ(bootReads, 0);
}

TEST_F(SuspendStoreTest, SavesOneISOStringInWholeSeconds) {
    store.save(boot + 90s + 700ms);
    EXPECT_EQ(contents(state / "lumra/suspended.json"), "\"2026-01-01T00:01:30Z\"");
    EXPECT_EQ(store.load(), boot + 90s);
}

TEST_F(SuspendStoreTest, ADateAtTheBootStaysAndOneSecondBeforeIsCleared) {
    store.save(boot);
    EXPECT_EQ(logDuring([&] { EXPECT_EQ(store.load(), boot); }), "");
    EXPECT_TRUE(std::filesystem::exists(state / "lumra/suspended.json"));

    store.save(boot - 1s);
    std::string log = logDuring([&] { EXPECT_EQ(store.load(), std::nullopt); });
    EXPECT_THAT(log, testing::MatchesRegex("[0-9T:Z-]+ suspend switch predates this boot, clearing\n"));
    EXPECT_FALSE(std::filesystem::exists(state / "lumra/suspended.json"));
    EXPECT_EQ(logDuring([&] { EXPECT_EQ(store.load(), std::nullopt); }), "");
}

// The file keeps whole seconds: a suspension made in the boot's own second
// must not read as one from before the boot.
TEST_F(SuspendStoreTest, ASuspensionInTheBootsOwnSecondStays) {
    bootTime = boot + 400ms;
    store.save(boot + 600ms);
    EXPECT_EQ(store.load(), boot);
    bootTime = boot + 1s + 400ms;
    EXPECT_EQ(logDuring([&] { EXPECT_EQ(store.load(), std::nullopt); }).empty(), false);
}

TEST_F(SuspendStoreTest, AnythingButADateReadsAsNotSuspendedAndStays) {
    for (const char* damaged : {"788918400", "\"yesterday\"", "", "\"2026-01-01T00:00:00Z",
                                "[\"2026-01-01T00:00:00Z\"]", "\"9999-01-01T00:00:00Z\"", "\"\xFF\""}) {
        writeFile(state / "lumra/suspended.json", damaged);
        EXPECT_EQ(logDuring([&] { EXPECT_EQ(store.load(), std::nullopt) << damaged; }), "");
        EXPECT_EQ(contents(state / "lumra/suspended.json"), damaged);
    }
    // The next save replaces it.
    store.save(boot + 5s);
    EXPECT_EQ(store.load(), boot + 5s);
}

TEST_F(SuspendStoreTest, OffsetsAreAcceptedWhenReading) {
    writeFile(state / "lumra/suspended.json", "\"2026-01-01T02:00:00+02:00\"");
    EXPECT_EQ(store.load(), boot);
}

TEST_F(SuspendStoreTest, ClearingRemovesTheFileAndAMissingOneIsFine) {
    store.save(boot + 1s);
    store.save(std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(state / "lumra/suspended.json"));
    store.save(std::nullopt);
    EXPECT_EQ(store.load(), std::nullopt);
}

TEST_F(SuspendStoreTest, AFailedSaveIsLoggedAndKeepsTheOldFile) {
    store.save(boot + 1s);
    EXPECT_THAT(logWhileWritesFail([&] { store.save(boot + 2s); }),
                testing::EndsWith("suspended.json not written, keeping the previous file: File too large\n"));
    EXPECT_EQ(store.load(), boot + 1s);
}

} // namespace
