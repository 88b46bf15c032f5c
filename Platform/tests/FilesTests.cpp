#include <Platform/Files.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace Files = Platform::Files;
using TestSupport::contents;
using TestSupport::entries;
using TestSupport::TempDir;
using TestSupport::writeFile;

mode_t permissions(const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

ino_t inode(const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
}

// --- read

TEST(FilesRead, MissingFileGivesNothing) {
    TempDir folder;
    EXPECT_EQ(Files::read(folder / "missing.json"), std::nullopt);
    EXPECT_EQ(Files::read(folder / "missing/inside.json"), std::nullopt);
}

TEST(FilesRead, GivesEveryByteOfTheFile) {
    TempDir folder;
    std::string bytes("line\n\0\xff\xfe binary\r\n", 18);
    writeFile(folder / "data", bytes);
    EXPECT_EQ(Files::read(folder / "data"), bytes);
}

TEST(FilesRead, EmptyFileGivesEmptyText) {
    TempDir folder;
    writeFile(folder / "empty", "");
    EXPECT_EQ(Files::read(folder / "empty"), "");
}

// A folder where a file is expected cannot be read as one; it must not pass
// for an empty file.
TEST(FilesRead, FolderGivesNothing) {
    TempDir folder;
    std::filesystem::create_directory(folder / "settings.json");
    EXPECT_EQ(Files::read(folder / "settings.json"), std::nullopt);
}

// --- writeAtomically

TEST(FilesWriteAtomically, CreatesTheFile) {
    TempDir folder;
    EXPECT_FALSE(Files::writeAtomically(folder / "state.json", "{\"a\":1}\n"));
    EXPECT_EQ(contents(folder / "state.json"), "{\"a\":1}\n");
}

TEST(FilesWriteAtomically, ReplacesTheWholeFileByRenaming) {
    TempDir folder;
    writeFile(folder / "state.json", "a much longer previous content\n");
    ino_t before = inode(folder / "state.json");

    EXPECT_FALSE(Files::writeAtomically(folder / "state.json", "short"));

    EXPECT_EQ(contents(folder / "state.json"), "short");
    // A reader holding the old file keeps seeing it whole: the new one is a
    // different file put in its place, not the old one rewritten.
    EXPECT_NE(inode(folder / "state.json"), before);
}

TEST(FilesWriteAtomically, EmptyContentLeavesAnEmptyFile) {
    TempDir folder;
    writeFile(folder / "state.json", "old");
    EXPECT_FALSE(Files::writeAtomically(folder / "state.json", ""));
    EXPECT_EQ(contents(folder / "state.json"), "");
}

TEST(FilesWriteAtomically, AppliesTheModeToNewAndReplacedFiles) {
    TempDir folder;
    for (mode_t mode : {0600, 0640, 0440, 0755, 0644}) {
        EXPECT_FALSE(Files::writeAtomically(folder / "new", "x", mode));
        EXPECT_EQ(permissions(folder / "new"), mode) << std::oct << mode;
        std::filesystem::remove(folder / "new");

        writeFile(folder / "replaced", "old");
        std::filesystem::permissions(folder / "replaced", std::filesystem::perms::all);
        EXPECT_FALSE(Files::writeAtomically(folder / "replaced", "x", mode));
        EXPECT_EQ(permissions(folder / "replaced"), mode) << std::oct << mode;
    }
}

TEST(FilesWriteAtomically, DefaultModeIsReadableByAllWritableByOwner) {
    TempDir folder;
    EXPECT_FALSE(Files::writeAtomically(folder / "state.json", "x"));
    EXPECT_EQ(permissions(folder / "state.json"), 0644u);
}

TEST(FilesWriteAtomically, LeavesNoTemporaryFileBehind) {
    TempDir folder;
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(Files::writeAtomically(folder / "state.json", std::to_string(i)));
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"state.json"});
}

TEST(FilesWriteAtomically, MissingFolderFailsAndCreatesNothing) {
    TempDir folder;
    auto error = Files::writeAtomically(folder / "missing/state.json", "x");
    EXPECT_EQ(error, std::errc::no_such_file_or_directory) << error.message();
    EXPECT_TRUE(entries(folder.path()).empty());
}

TEST(FilesWriteAtomically, ParentThatIsAFileFailsAndLeavesItAlone) {
    TempDir folder;
    writeFile(folder / "plain", "kept");
    auto error = Files::writeAtomically(folder / "plain/state.json", "x");
    EXPECT_EQ(error, std::errc::not_a_directory) << error.message();
    EXPECT_EQ(contents(folder / "plain"), "kept");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"plain"});
}

TEST(FilesWriteAtomically, TargetThatIsAFolderFailsAndLeavesNoTemporaryFile) {
    TempDir folder;
    writeFile(folder / "state.json/inside", "kept");
    auto error = Files::writeAtomically(folder / "state.json", "x");
    EXPECT_EQ(error, std::errc::is_a_directory) << error.message();
    EXPECT_EQ(contents(folder / "state.json/inside"), "kept");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"state.json"});
}

// Root writes anywhere, so the write runs with the rights of an ordinary
// user for the duration of the call.
TEST(FilesWriteAtomically, UnwritableFolderFailsAndKeepsTheOldFile) {
    TempDir folder;
    writeFile(folder / "state/state.json", "old");
    std::filesystem::permissions(folder / "state",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::seteuid(65534), 0);
    }
    auto error = Files::writeAtomically(folder / "state/state.json", "new");
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    std::filesystem::permissions(folder / "state", std::filesystem::perms::owner_all);

    EXPECT_EQ(error, std::errc::permission_denied) << error.message();
    EXPECT_EQ(contents(folder / "state/state.json"), "old");
    EXPECT_EQ(entries(folder / "state"), std::vector<std::string>{"state.json"});
}

// A write that fails halfway (here the file size limit) must not leave a
// truncated file in place of the old one, nor the partial temporary file.
TEST(FilesWriteAtomically, FailedWriteKeepsTheOldFileAndRemovesThePartialOne) {
    TempDir folder;
    writeFile(folder / "state.json", "old");

    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto error = Files::writeAtomically(folder / "state.json", "far more than four bytes");
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(error, std::errc::file_too_large) << error.message();
    EXPECT_EQ(contents(folder / "state.json"), "old");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string>{"state.json"});
}

// --- append

TEST(FilesAppend, CreatesAMissingFile) {
    TempDir folder;
    EXPECT_FALSE(Files::append(folder / "log.jsonl", "one\n"));
    EXPECT_EQ(contents(folder / "log.jsonl"), "one\n");
}

TEST(FilesAppend, AddsAtTheEndKeepingWhatIsThere) {
    TempDir folder;
    writeFile(folder / "log.jsonl", "zero\n");
    EXPECT_FALSE(Files::append(folder / "log.jsonl", "one\n"));
    EXPECT_FALSE(Files::append(folder / "log.jsonl", "two\n"));
    EXPECT_EQ(contents(folder / "log.jsonl"), "zero\none\ntwo\n");
}

TEST(FilesAppend, MissingFolderFails) {
    TempDir folder;
    auto error = Files::append(folder / "missing/log.jsonl", "one\n");
    EXPECT_EQ(error, std::errc::no_such_file_or_directory) << error.message();
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

// Lines longer than any stream buffer, appended from several writers at once,
// each arrive whole: one write per call.
TEST(FilesAppend, ConcurrentLinesNeverInterleave) {
    TempDir folder;
    constexpr int writers = 4;
    constexpr int linesEach = 50;
    constexpr size_t length = 20000;
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w)
        threads.emplace_back([&, w] {
            std::string line(length, static_cast<char>('a' + w));
            line += '\n';
            for (int i = 0; i < linesEach; ++i) ASSERT_FALSE(Files::append(folder / "log", line));
        });
    for (auto& thread : threads) thread.join();

    auto written = TestSupport::lines(folder / "log");
    ASSERT_EQ(written.size(), static_cast<size_t>(writers * linesEach));
    for (const auto& line : written) {
        ASSERT_EQ(line.size(), length);
        EXPECT_EQ(line.find_first_not_of(line.front()), std::string::npos);
    }
}

// --- createDirectories

TEST(FilesCreateDirectories, CreatesEveryMissingParentAndAcceptsAnExistingFolder) {
    TempDir folder;
    EXPECT_FALSE(Files::createDirectories(folder / "a/b/c"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "a/b/c"));
    writeFile(folder / "a/b/c/kept", "kept");
    EXPECT_FALSE(Files::createDirectories(folder / "a/b/c"));
    EXPECT_EQ(contents(folder / "a/b/c/kept"), "kept");
}

TEST(FilesCreateDirectories, FileInTheWayFails) {
    TempDir folder;
    writeFile(folder / "plain", "kept");
    EXPECT_TRUE(Files::createDirectories(folder / "plain/inside"));
    EXPECT_EQ(contents(folder / "plain"), "kept");
}

TEST(FilesCreateDirectories, TheFolderItselfGetsTheModeItsParentsTheUsualOne) {
    TempDir folder;
    mode_t previous = ::umask(022);
    EXPECT_FALSE(Files::createDirectories(folder / "up/state", 0700));
    ::umask(previous);
    EXPECT_EQ(permissions(folder / "up/state"), 0700u);
    EXPECT_EQ(permissions(folder / "up"), 0755u);
    // An existing folder keeps its mode.
    EXPECT_FALSE(Files::createDirectories(folder / "up", 0700));
    EXPECT_EQ(permissions(folder / "up"), 0755u);
}

TEST(FilesAppend, CreatesTheFileWithTheModeAndKeepsAnExistingOnesMode) {
    TempDir folder;
    EXPECT_FALSE(Files::append(folder / "log", "one\n", 0600));
    EXPECT_EQ(permissions(folder / "log"), 0600u);
    ::chmod((folder / "log").c_str(), 0640);
    EXPECT_FALSE(Files::append(folder / "log", "two\n", 0600));
    EXPECT_EQ(permissions(folder / "log"), 0640u);
    EXPECT_EQ(contents(folder / "log"), "one\ntwo\n");
}

// --- makePrivate

TEST(FilesMakePrivate, TakesGroupAndOtherBitsFromTheFolderAndItsFiles) {
    TempDir folder;
    auto state = folder / "state";
    std::filesystem::create_directories(state / "inner");
    struct Entry {
        std::string name;
        mode_t before;
        mode_t after;
    };
    const Entry files[] = {{"claims.json", 0644, 0600}, {"config.json", 0666, 0600}, {"tool", 0755, 0700},
                           {"private", 0600, 0600}, {"readonly", 0444, 0400}};
    for (const auto& file : files) {
        writeFile(state / file.name, "x");
        ::chmod((state / file.name).c_str(), file.before);
    }
    writeFile(folder / "outside", "x");
    ::chmod((folder / "outside").c_str(), 0644);
    std::filesystem::create_symlink(folder / "outside", state / "link");
    ::chmod(state.c_str(), 0755);
    ::chmod((state / "inner").c_str(), 0755);

    EXPECT_FALSE(Files::makePrivate(state));
    EXPECT_EQ(permissions(state), 0700u);
    for (const auto& file : files) EXPECT_EQ(permissions(state / file.name), file.after) << file.name;
    EXPECT_EQ(permissions(folder / "outside"), 0644u); // a link is not followed
    EXPECT_EQ(permissions(state / "inner"), 0755u);    // only the files directly inside
}

TEST(FilesMakePrivate, AMissingFolderIsAnError) {
    TempDir folder;
    EXPECT_EQ(Files::makePrivate(folder / "none"), std::error_code(ENOENT, std::generic_category()));
}

} // namespace
