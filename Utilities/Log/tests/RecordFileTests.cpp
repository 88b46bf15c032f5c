#include <Log/RecordFile.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Log::RecordFile;
using TestSupport::contents;
using TestSupport::entries;
using TestSupport::TempDir;
using TestSupport::writeFile;

mode_t permissions(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The descriptors of this process open on `file`; a deleted file shows as
// "<path> (deleted)".
std::vector<int> descriptorsOn(const std::string& file) {
    std::vector<int> found;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        auto target = fs::read_symlink(entry.path(), error);
        if (!error && target == file) found.push_back(std::stoi(entry.path().filename()));
    }
    return found;
}

// The record file's descriptor, marked so that a test can tell whether a later
// append still uses the same open file (a reopened one lacks the mark).
int markedDescriptor(const std::string& file) {
    auto found = descriptorsOn(file);
    if (found.size() != 1) return -1;
    ::fcntl(found[0], F_SETFL, ::fcntl(found[0], F_GETFL) | O_NONBLOCK);
    return found[0];
}

bool stillMarked(const std::string& file) {
    auto found = descriptorsOn(file);
    return found.size() == 1 && (::fcntl(found[0], F_GETFL) & O_NONBLOCK) != 0;
}

TEST(RecordFile, CreatesThePrivateFileAndItsFolderAndKeepsItOpen) {
    TempDir dir;
    std::string path = dir / "logs/events.jsonl";
    RecordFile file;
    EXPECT_EQ(file.append("{\"a\":1}\n", path), std::nullopt);
    EXPECT_EQ(permissions(dir / "logs"), 0700u);
    EXPECT_EQ(permissions(path), 0600u);

    int fd = markedDescriptor(path);
    ASSERT_GE(fd, 0);
    int flags = ::fcntl(fd, F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_WRONLY);
    EXPECT_NE(flags & O_APPEND, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);

    EXPECT_EQ(file.append("{\"a\":2}\n", path), std::nullopt);
    EXPECT_TRUE(stillMarked(path)) << "reopened although nothing changed";
    EXPECT_EQ(contents(path), "{\"a\":1}\n{\"a\":2}\n");
}

TEST(RecordFile, AppendsToWhatIsThereAndClosesAtTheEnd) {
    TempDir dir;
    std::string path = dir / "events.jsonl";
    writeFile(path, "old\n");
    {
        RecordFile file;
        EXPECT_EQ(file.append("new\n", path), std::nullopt);
        EXPECT_EQ(descriptorsOn(path).size(), 1u);
    }
    EXPECT_EQ(descriptorsOn(path).size(), 0u);
    EXPECT_EQ(contents(path), "old\nnew\n");
}

TEST(RecordFile, ADeletedFileIsMadeAgain) {
    TempDir dir;
    std::string path = dir / "events.jsonl";
    RecordFile file;
    ASSERT_EQ(file.append("one\n", path), std::nullopt);
    fs::remove(path);
    EXPECT_EQ(file.append("two\n", path), std::nullopt);
    EXPECT_EQ(contents(path), "two\n");
    EXPECT_TRUE(descriptorsOn(path + " (deleted)").empty()) << "the old descriptor leaked";
}

TEST(RecordFile, AReplacedFileIsReopened) {
    TempDir dir;
    std::string path = dir / "events.jsonl";
    RecordFile file;
    ASSERT_EQ(file.append("one\n", path), std::nullopt);
    fs::rename(path, dir / "moved.jsonl");
    writeFile(dir / "other", "other\n");
    fs::rename(dir / "other", path);
    EXPECT_EQ(file.append("two\n", path), std::nullopt);
    EXPECT_EQ(contents(path), "other\ntwo\n");
    EXPECT_EQ(contents(dir / "moved.jsonl"), "one\n");
}

TEST(RecordFile, AnotherPathIsOpenedInstead) {
    TempDir dir;
    RecordFile file;
    ASSERT_EQ(file.append("one\n", dir / "a.jsonl"), std::nullopt);
    ASSERT_EQ(file.append("two\n", dir / "b.jsonl"), std::nullopt);
    EXPECT_EQ(contents(dir / "a.jsonl"), "one\n");
    EXPECT_EQ(contents(dir / "b.jsonl"), "two\n");
    EXPECT_TRUE(descriptorsOn(dir / "a.jsonl").empty());
}

TEST(RecordFile, PastFourMebibytesTheFileMakesWayForAnEmptyOne) {
    TempDir dir;
    std::string path = dir / "events.jsonl";
    RecordFile file;
    std::string first(RecordFile::rotationSize - 1, 'a');
    ASSERT_EQ(file.append(first + "\n", path), std::nullopt);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"events.jsonl"}) << "exactly 4 MiB is not over";

    ASSERT_EQ(file.append("b\n", path), std::nullopt);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"events.1.jsonl", "events.jsonl"}));
    EXPECT_EQ(fs::file_size(dir / "events.1.jsonl"), std::uintmax_t(RecordFile::rotationSize) + 2);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(descriptorsOn(path).size(), 1u) << "the new file is open already";
    EXPECT_TRUE(descriptorsOn(dir / "events.1.jsonl").empty());

    ASSERT_EQ(file.append("c\n", path), std::nullopt);
    EXPECT_EQ(contents(path), "c\n");

    // The second rotation replaces the first one's file.
    ASSERT_EQ(file.append(std::string(RecordFile::rotationSize, 'd') + "\n", path), std::nullopt);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"events.1.jsonl", "events.jsonl"}));
    EXPECT_EQ(fs::file_size(dir / "events.1.jsonl"), std::uintmax_t(RecordFile::rotationSize) + 3);
    EXPECT_EQ(contents(dir / "events.1.jsonl").substr(0, 3), "c\nd");
}

// lstat sees the link, never the file behind it: every append reopens, and
// rotating would rename the link, so it never happens.
TEST(RecordFile, ASymbolicLinkIsReopenedEveryTimeAndNeverRotated) {
    TempDir dir;
    std::string path = dir / "events.jsonl";
    fs::create_symlink(dir / "real.jsonl", path);
    RecordFile file;
    ASSERT_EQ(file.append("one\n", path), std::nullopt);
    ASSERT_GE(markedDescriptor(dir / "real.jsonl"), 0);
    ASSERT_EQ(file.append("two\n", path), std::nullopt);
    EXPECT_FALSE(stillMarked(dir / "real.jsonl"));

    ASSERT_EQ(file.append(std::string(RecordFile::rotationSize, 'x') + "\n", path), std::nullopt);
    ASSERT_EQ(file.append("three\n", path), std::nullopt);
    EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"events.jsonl", "real.jsonl"}));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(fs::file_size(dir / "real.jsonl"), std::uintmax_t(RecordFile::rotationSize) + 1 + 4 + 4 + 6);
    EXPECT_EQ(descriptorsOn(dir / "real.jsonl").size(), 1u);
}

// Permissions do not stop root, so a path through a regular file stands in
// for a folder that cannot take the file.
TEST(RecordFile, AnUnwritablePlaceGivesTheErrorNumberEveryTimeUntilItIsFixed) {
    TempDir dir;
    writeFile(dir / "logs", "a file, not a folder");
    std::string path = dir / "logs/events.jsonl";
    RecordFile file;
    EXPECT_EQ(file.append("one\n", path), ENOTDIR);
    EXPECT_EQ(file.append("two\n", path), ENOTDIR);

    fs::remove(dir / "logs");
    EXPECT_EQ(file.append("three\n", path), std::nullopt);
    EXPECT_EQ(contents(path), "three\n");
}

TEST(RecordFile, OnlyOneFolderLevelIsMade) {
    TempDir dir;
    RecordFile file;
    EXPECT_EQ(file.append("one\n", dir / "a/b/events.jsonl"), ENOENT);
    EXPECT_FALSE(fs::exists(dir / "a"));
}

TEST(RecordFile, AFailedWriteGivesItsErrorNumber) {
    RecordFile file;
    EXPECT_EQ(file.append("one\n", "/dev/full"), ENOSPC);
}

TEST(RecordFile, APartialWriteIsAFailure) {
    TempDir dir;
    std::string path = dir / "events.jsonl";
    RecordFile file;
    ASSERT_EQ(file.append("12345\n", path), std::nullopt);

    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto partial = file.append("more than four\n", path);
    auto none = file.append("x\n", path);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(partial, EIO);
    EXPECT_EQ(none, EFBIG);
    EXPECT_EQ(contents(path), "12345\nmore");
}

TEST(RecordFile, ThePreviousNameGoesBeforeTheExtension) {
    for (auto [path, previous] : {
             std::pair{"/var/log/events.jsonl", "/var/log/events.1.jsonl"},
             std::pair{"events.jsonl", "events.1.jsonl"},
             std::pair{"/var/log/events.tar.gz", "/var/log/events.tar.1.gz"},
             std::pair{"/var/log/events", "/var/log/events.1"},
             std::pair{"/tmp/a.b/events", "/tmp/a.b/events.1"},
             std::pair{"/var/log/.events", "/var/log/.events.1"},
             std::pair{".events.jsonl", ".events.1.jsonl"},
             std::pair{"/var/log/events.", "/var/log/events..1"},
         })
        EXPECT_EQ(RecordFile::previousName(path), previous) << path;
}

} // namespace
