#include <LumraKit/NotificationStore.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

using TestSupport::contents;

using LumraKit::NotificationStore;
using Reach = NotificationStore::Reach;

ino_t inode(const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(NotificationStore, NothingRecordedLoadsAsAbsent) {
    TestSupport::TempDir state;
    EXPECT_EQ(NotificationStore(state / "notifications.json").load(), std::nullopt);
}

TEST(NotificationStore, SavesTheRawValueAsOneJSONString) {
    TestSupport::TempDir state;
    NotificationStore store(state / "lumra/notifications.json");
    store.save(Reach::silenced);
    EXPECT_EQ(contents(state / "lumra/notifications.json"), "\"silenced\"");
    EXPECT_EQ(store.load(), Reach::silenced);
}

TEST(NotificationStore, SavingTheSameValueReplacesTheFile) {
    TestSupport::TempDir state;
    NotificationStore store(state / "notifications.json");
    store.save(Reach::allowed);
    ino_t before = inode(state / "notifications.json");
    store.save(Reach::allowed);
    EXPECT_NE(inode(state / "notifications.json"), before);
    EXPECT_EQ(store.load(), Reach::allowed);
}

TEST(NotificationStore, AnythingButOneOfTheFourValuesLoadsAsAbsent) {
    TestSupport::TempDir state;
    NotificationStore store(state / "notifications.json");
    for (const char* damaged : {"", "allowed", "\"Allowed\"", "\"unknown\"", "3", "[\"allowed\"]", "{", "\"allowed",
                                "null", "\"allowed\" \"denied\""}) {
        std::ofstream(state / "notifications.json", std::ios::trunc) << damaged;
        EXPECT_EQ(store.load(), std::nullopt) << damaged;
    }
    std::ofstream(state / "notifications.json", std::ios::trunc) << " \"denied\"\n";
    EXPECT_EQ(store.load(), Reach::denied);
}

TEST(NotificationStore, AFailedSaveIsLoggedAndDoesNotThrow) {
    TestSupport::TempDir state;
    std::ofstream(state / "file") << "";
    testing::internal::CaptureStderr();
    NotificationStore(state / "file/notifications.json").save(Reach::allowed);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("notifications.json not written: "), std::string::npos);
}

// Another process may read while the notifier writes: every read sees a
// whole value, never a part of one.
TEST(NotificationStore, ReadersNeverSeeAPartialFile) {
    TestSupport::TempDir state;
    NotificationStore store(state / "notifications.json");
    store.save(Reach::notAsked);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 150; ++i) store.save(i % 2 == 0 ? Reach::silenced : Reach::notAsked);
        done = true;
    });
    int reads = 0;
    while (!done) {
        ASSERT_NE(store.load(), std::nullopt);
        ++reads;
    }
    writer.join();
    EXPECT_GT(reads, 0);
}

} // namespace
