#include "FailingWrites.hpp"
#include "WriterLists.hpp"

#include <LumraKit/ClaimStore.hpp>
#include <Platform/Files.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using LumraKit::Claim;
using LumraKit::ClaimStore;
using LumraKit::Mode;
using LumraKit::Term;
using testing::HasSubstr;
using TestSupport::contents;
using TestSupport::writeFile;

const Platform::Date now{1767225600s};

std::vector<Claim> someClaims() {
    return {Claim("you", false, Claim::defaultModes, Term::until(now + 2h), now),
            Claim("make", true, {Mode::idle}, Term::whilePid(4711, 1767225000.5), now + 1s, true, "done"),
            Claim("external", false, {Mode::lid}, Term::indefinite(), now + 2s)};
}

// The engine log written while `body` runs.
template <typename Body>
std::string logDuring(Body body) {
    testing::internal::CaptureStderr();
    body();
    return testing::internal::GetCapturedStderr();
}

TEST(ClaimStore, NoFileLoadsAsNoClaimsWithoutALogLine) {
    TestSupport::TempDir state;
    std::string log = logDuring([&] { EXPECT_TRUE(ClaimStore(state / "claims.json").load().empty()); });
    EXPECT_EQ(log, "");
}

TEST(ClaimStore, SavesAndLoadsTheListInOrder) {
    TestSupport::TempDir state;
    ClaimStore store(state / "lumra/claims.json");
    auto claims = someClaims();
    store.save(claims);
    EXPECT_EQ(store.load(), claims);
    std::reverse(claims.begin(), claims.end());
    store.save(claims);
    EXPECT_EQ(store.load(), claims);
    // One compact JSON array in the plain form.
    auto text = contents(state / "lumra/claims.json");
    EXPECT_EQ(text.front(), '[');
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_THAT(text, HasSubstr(R"("startedAt":788918402.0)"));
    EXPECT_EQ(ClaimStore::decode(text), claims);
}

TEST(ClaimStore, AnEmptyListLeavesNoFile) {
    TestSupport::TempDir state;
    ClaimStore store(state / "claims.json");
    store.save(someClaims());
    store.save({});
    EXPECT_FALSE(std::filesystem::exists(state / "claims.json"));
    EXPECT_TRUE(store.load().empty());
    store.save({}); // nothing to remove is fine
    store.clear();
    EXPECT_TRUE(TestSupport::entries(state.path()).empty());
}

TEST(ClaimStore, ADamagedFileIsLoggedWithItsTextRemovedAndLoadsEmpty) {
    TestSupport::TempDir state;
    writeFile(state / "claims.json", "[");
    ClaimStore store(state / "claims.json");
    std::string log = logDuring([&] { EXPECT_TRUE(store.load().empty()); });
    EXPECT_THAT(log, testing::MatchesRegex("[0-9T:Z-]+ claims.json undecodable, clearing: \\[\n"));
    EXPECT_FALSE(std::filesystem::exists(state / "claims.json"));
    // Reported once: the next load finds nothing and says nothing.
    EXPECT_EQ(logDuring([&] { EXPECT_TRUE(store.load().empty()); }), "");
}

TEST(ClaimStore, DamageOfEveryKindClearsTheFile) {
    TestSupport::TempDir state;
    ClaimStore store(state / "claims.json");
    for (const char* damaged :
         {"", "{}", "null", "[1]", R"([{"id":"x"}])", "[] []",
          R"([{"id":"1F0A2B3C-4D5E-4F60-8A7B-9C0D1E2F3A4B","owner":"you","forced":false,"modes":["nap"],
                         "term":{"indefinite":{}},"startedAt":0}])"}) {
        writeFile(state / "claims.json", damaged);
        std::string log = logDuring([&] { EXPECT_TRUE(store.load().empty()) << damaged; });
        // The damaged text stays on the one log line, its line breaks spelled out.
        std::string shown = damaged;
        for (size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2) shown.replace(at, 1, "\\n");
        EXPECT_EQ(log.substr(log.find(' ') + 1), "claims.json undecodable, clearing: " + shown + "\n");
        EXPECT_FALSE(std::filesystem::exists(state / "claims.json")) << damaged;
    }
}

TEST(ClaimStore, BytesThatAreNotUTF8AreLoggedAsBinary) {
    TestSupport::TempDir state;
    writeFile(state / "claims.json", "[\xFF\xFE]");
    std::string log = logDuring([&] { EXPECT_TRUE(ClaimStore(state / "claims.json").load().empty()); });
    EXPECT_THAT(log, testing::EndsWith(" claims.json undecodable, clearing: <binary>\n"));
    EXPECT_FALSE(std::filesystem::exists(state / "claims.json"));
}

TEST(ClaimStore, AFailedSaveIsLoggedAndKeepsTheOldFile) {
    TestSupport::TempDir state;
    ClaimStore store(state / "claims.json");
    store.save(someClaims());
    std::string before = contents(state / "claims.json");
    EXPECT_THAT(logWhileWritesFail([&] { store.save(WriterLists::large()); }),
                testing::EndsWith("claims.json not written, keeping the previous file: File too large\n"));
    EXPECT_EQ(contents(state / "claims.json"), before);
    EXPECT_EQ(TestSupport::entries(state.path()), std::vector<std::string>{"claims.json"});
}

TEST(ClaimStore, AFolderInTheWayReadsAsNoClaimsAndStays) {
    TestSupport::TempDir state;
    std::filesystem::create_directories(state / "claims.json");
    std::string log = logDuring([&] { EXPECT_TRUE(ClaimStore(state / "claims.json").load().empty()); });
    EXPECT_EQ(log, "");
    EXPECT_TRUE(std::filesystem::is_directory(state / "claims.json"));
}

// MARK: - Killed writer

class RunningWriter {
public:
    explicit RunningWriter(const std::filesystem::path& file) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        readEnd_ = ends[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        std::string path = file.string();
        char* argv[] = {const_cast<char*>(CLAIM_STORE_WRITER), path.data(), nullptr};
        int error = ::posix_spawn(&pid_, CLAIM_STORE_WRITER, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        if (error != 0) throw std::system_error(error, std::generic_category(), "posix_spawn");
    }
    ~RunningWriter() {
        if (pid_ > 0) killNow();
        ::close(readEnd_);
    }

    // Blocks until the first save is complete.
    void waitForFirstSave() {
        char byte;
        while (::read(readEnd_, &byte, 1) < 0 && errno == EINTR) {
        }
    }

    // Kills the writer; true when it had completed a save by then.
    bool killNow() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        char byte;
        return ::read(readEnd_, &byte, 1) == 1;
    }

private:
    pid_t pid_ = -1;
    int readEnd_ = -1;
};

// The writer replaces the file over and over; killed at any moment, it
// leaves one of the two complete lists, never a part, and no file only
// when it never finished a save.
TEST(ClaimStoreKill, AKilledWriterLeavesAWholeList) {
    TestSupport::TempDir state;
    auto file = state / "claims.json";
    // Encoding is deterministic, so comparing texts is comparing lists.
    const std::string large = ClaimStore::encode(WriterLists::large());
    const std::string small = ClaimStore::encode(WriterLists::small());
    ASSERT_EQ(ClaimStore::decode(large), WriterLists::large());
    ASSERT_EQ(ClaimStore::decode(small), WriterLists::small());
    std::mt19937 random(20260101);
    int sawLarge = 0, sawSmall = 0;
    for (int round = 0; round < 200; ++round) {
        if (round % 25 == 0) std::filesystem::remove(file);
        bool existed = std::filesystem::exists(file);
        RunningWriter writer(file);
        // Half the rounds kill during start-up or the first save, half in
        // the middle of the loop.
        if (round % 2 == 1) writer.waitForFirstSave();
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 12000)(random));
        bool saved = writer.killNow();

        auto text = Platform::Files::read(file);
        if (!text) {
            EXPECT_FALSE(existed || saved) << "round " << round << ": the file went missing";
            continue;
        }
        if (*text == large)
            ++sawLarge;
        else if (*text == small)
            ++sawSmall;
        else
            ADD_FAILURE() << "round " << round << ": a list that was never saved: " << text->substr(0, 200);
    }
    EXPECT_GT(sawLarge, 0);
    EXPECT_GT(sawSmall, 0);
}

} // namespace
