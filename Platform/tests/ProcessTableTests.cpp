#include <Platform/ProcessTable.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace ProcessTable = Platform::ProcessTable;
using namespace std::chrono_literals;

double secondsSince1970(Platform::Date date) { return std::chrono::duration<double>(date.time_since_epoch()).count(); }

// A real child process of this test, started with the given argument list,
// killed and reaped when the object goes.
class Child {
public:
    Child(const std::filesystem::path& program, std::vector<std::string> argv) {
        std::vector<char*> pointers;
        for (auto& argument : argv) pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        char* noEnvironment[] = {nullptr};
        if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, pointers.data(), noEnvironment) != 0) pid_ = -1;
    }
    ~Child() {
        if (pid_ > 0) reap();
    }
    pid_t pid() const { return pid_; }
    void reap() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

// A pid that was in use a moment ago and is now free.
pid_t freedPid() {
    Child child("/bin/true", {"true"});
    pid_t pid = child.pid();
    child.reap();
    return pid;
}

TEST(ProcessTableParsing, StartTicksCountFieldsFromTheLastParenthesis) {
    std::string tail = " S 1 1 1 0 -1 4194560 100 0 0 0 1 2 0 0 20 0 1 0 98765 1000 10";
    EXPECT_EQ(ProcessTable::startTicks("42 (sleep)" + tail, 42), 98765u);
    EXPECT_EQ(ProcessTable::startTicks("42 (a b) (c) d)" + tail + "\n", 42), 98765u);
    EXPECT_EQ(ProcessTable::startTicks("42 ()" + tail, 42), 98765u);
    EXPECT_EQ(ProcessTable::startTicks("42 (sleep)" + tail, 43), std::nullopt);
    EXPECT_EQ(ProcessTable::startTicks("42 (sleep) S 1 1 1", 42), std::nullopt);
    EXPECT_EQ(ProcessTable::startTicks("42 (sleep" + tail, 42), std::nullopt);
    EXPECT_EQ(ProcessTable::startTicks("", 42), std::nullopt);
    EXPECT_EQ(ProcessTable::startTicks("42 (x) S 1 1 1 0 -1 4 1 0 0 0 1 2 0 0 20 0 1 0 -5 1 1", 42), std::nullopt);
}

TEST(ProcessTableParsing, BootSecondsComeFromTheBtimeLine) {
    EXPECT_EQ(ProcessTable::bootSeconds("cpu  1 2 3\nintr 5\nbtime 1767225600\nprocesses 9\n"), 1767225600);
    EXPECT_EQ(ProcessTable::bootSeconds("btime 17"), 17);
    EXPECT_EQ(ProcessTable::bootSeconds("cpu 1\nprocesses 9\n"), std::nullopt);
    EXPECT_EQ(ProcessTable::bootSeconds("btime soon\n"), std::nullopt);
    EXPECT_EQ(ProcessTable::bootSeconds("xbtime 5\n"), std::nullopt);
}

TEST(ProcessTableParsing, NameIsTheFirstArgumentsLastPathComponent) {
    using namespace std::string_literals;
    EXPECT_EQ(ProcessTable::firstArgumentName("/usr/bin/caffeinate\0-d\0"s), "caffeinate");
    EXPECT_EQ(ProcessTable::firstArgumentName("lumra\0"s), "lumra");
    EXPECT_EQ(ProcessTable::firstArgumentName("a/b/\0"s), "b");
    EXPECT_EQ(ProcessTable::firstArgumentName("/\0"s), "/");
    EXPECT_EQ(ProcessTable::firstArgumentName("no terminator"), "no terminator");
    EXPECT_EQ(ProcessTable::firstArgumentName("\0after\0"s), "");
    EXPECT_EQ(ProcessTable::firstArgumentName(""), "");
    EXPECT_EQ(ProcessTable::firstArgumentName("/x/caf\xC3\0"s), "caf\xEF\xBF\xBD");
}

TEST(ProcessTable, BootTimeIsInThePast) {
    auto boot = ProcessTable::bootTime();
    ASSERT_TRUE(boot.has_value());
    EXPECT_LT(*boot, std::chrono::system_clock::now());
    EXPECT_GT(*boot, Platform::Date(std::chrono::seconds(1000000000)));
}

TEST(ProcessTable, ThisProcessStartedAfterBootAndKeepsItsStartTime) {
    auto start = ProcessTable::startTime(::getpid());
    ASSERT_TRUE(start.has_value());
    EXPECT_GE(*start, secondsSince1970(*ProcessTable::bootTime()));
    EXPECT_LE(*start, secondsSince1970(std::chrono::system_clock::now()));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(ProcessTable::startTime(::getpid()), start);
}

TEST(ProcessTable, UnusedIDsHaveNoStartOrName) {
    for (pid_t pid : {freedPid(), pid_t{0}, pid_t{-1}, pid_t{2147483647}}) {
        EXPECT_EQ(ProcessTable::startTime(pid), std::nullopt) << pid;
        EXPECT_EQ(ProcessTable::name(pid), std::nullopt) << pid;
    }
}

// A program whose command name holds spaces and parentheses, started with a
// first argument that is not UTF-8.
TEST(ProcessTable, AChildWithAnAwkwardNameIsReadCorrectly) {
    TestSupport::TempDir folder;
    auto program = folder / "sl) (eep x";
    std::filesystem::copy_file("/bin/sleep", program);
    Child child(program, {"/opt/od\xFFname", "30"});
    ASSERT_GT(child.pid(), 0);
    // The spawn returns before the kernel has published the new arguments.
    auto cmdline = std::filesystem::path("/proc") / std::to_string(child.pid()) / "cmdline";
    for (int i = 0; i < 200 && TestSupport::contents(cmdline).empty(); ++i) std::this_thread::sleep_for(5ms);

    auto start = ProcessTable::startTime(child.pid());
    ASSERT_TRUE(start.has_value());
    EXPECT_GE(*start, *ProcessTable::startTime(::getpid()));
    EXPECT_EQ(ProcessTable::startTime(child.pid()), start);
    EXPECT_EQ(ProcessTable::name(child.pid()), "od\xEF\xBF\xBDname");
    EXPECT_EQ(ProcessTable::name(::getpid()), "Platform_tests");

    child.reap();
    EXPECT_EQ(ProcessTable::startTime(child.pid()), std::nullopt);
}

// A zombie shows no arguments; its command name stands in.
TEST(ProcessTable, AZombieIsNamedByItsCommand) {
    Child child("/bin/true", {"/some/where/else"});
    ASSERT_GT(child.pid(), 0);
    auto stat = std::filesystem::path("/proc") / std::to_string(child.pid()) / "stat";
    for (int i = 0; i < 200 && TestSupport::contents(stat).find(") Z ") == std::string::npos; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_NE(TestSupport::contents(stat).find(") Z "), std::string::npos);
    EXPECT_EQ(ProcessTable::name(child.pid()), "true");
    EXPECT_TRUE(ProcessTable::startTime(child.pid()).has_value());
}

} // namespace
