// The real lumrad against what could stall, fool or outlive it: a second
// instance, a slow client, files left readable, forged log lines, a burst of
// ended claims with a slow notifier and hook, and the update feed.

#include "LumradProcess.hpp"

#include <TestSupport/Collector.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/LocalClient.hpp>
#include <TestSupport/Subprocess.hpp>

#include <gmock/gmock.h>

#include <dirent.h>
#include <regex>
#include <sys/stat.h>

namespace {

using TestSupport::modeOf;

using namespace LumradTesting;
using testing::HasSubstr;

// The announcements `parent` runs (its notifier and hook children, from
// /proc), leaving out the tools it runs and waits for and what has ended
// already.
std::vector<pid_t> announcementsOf(pid_t parent) {
    std::vector<pid_t> children;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = TestSupport::contents(entry.path() / "stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        // After ") " come the state and then the parent's ID.
        std::istringstream fields(stat.substr(close + 2));
        std::string state;
        pid_t ppid = 0;
        std::string command = stat.substr(stat.find('(') + 1, close - stat.find('(') - 1);
        // Only announcements count: the notifier (this test's script) and the
        // hook's shell. A tool run, seen between its spawn and its exec, still
        // carries lumrad's own name.
        bool announcement = command == "slow-notifier" || command == "sh";
        if (fields >> state >> ppid && ppid == parent && announcement && state != "Z")
            children.push_back(std::stoi(name));
    }
    return children;
}

TEST_F(LumradTest, ASecondInstanceSaysWhoRunsAndTouchesNothing) {
    start();
    struct stat before {};
    ASSERT_EQ(::lstat(socket().c_str(), &before), 0);
    std::string logBefore = serviceLog();

    auto second = TestSupport::runProcess(LUMRAD_EXE, {"--service-log"}, {{"HOME", home.path().string()}});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "lumrad: already running (pid " + std::to_string(pid) + ")\n");
    struct stat after {};
    ASSERT_EQ(::lstat(socket().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the socket was taken over";
    EXPECT_EQ(serviceLog(), logBefore);
    EXPECT_TRUE(sent(Command::status()).ok);
    EXPECT_TRUE(running());

    // Once the first is gone, whatever way, the next one starts.
    ::kill(pid, SIGKILL);
    exitStatus();
    start();
    EXPECT_TRUE(sent(Command::status()).ok);
}

// A client that sends part of a line and stalls holds up neither the other
// clients nor the guards: a claim that runs out meanwhile ends on time.
TEST_F(LumradTest, ASlowClientHoldsUpNeitherClientsNorTicks) {
    start();
    TestSupport::LocalClient slow(socket());
    ASSERT_EQ(slow.error(), 0);
    slow.send("{\"sta");

    auto taken = std::chrono::steady_clock::now();
    auto ends = Platform::hostClock().now() + 400ms;
    ASSERT_TRUE(sent(Command::engage(claim("render", {Mode::idle}, Term::until(ends)))).ok);
    EXPECT_LT(std::chrono::steady_clock::now() - taken, 1s) << "the engage waited for the slow client";
    EXPECT_TRUE(eventually([&] { return storedClaims().empty(); }));
    EXPECT_LT(Platform::hostClock().now() - ends, 1s) << "the claim ended late";
    slow.send("tus\":{}}\n");
    EXPECT_FALSE(slow.readToEnd().empty()) << "the slow client is still served within its deadline";
}

TEST_F(LumradTest, StateAndLogAreTheUsersAloneAlsoWhenLeftReadable) {
    fs::path logDir = home / "Library/Logs/lumra";
    fs::create_directories(stateDir());
    fs::create_directories(logDir);
    TestSupport::writeFile(stateDir() / "config.json", R"({"notifyCommand":"curl -H 'token: secret'"})");
    TestSupport::writeFile(logDir / "service.log", "earlier\n");
    for (const auto& [path, mode] : std::vector<std::pair<fs::path, mode_t>>{
             {stateDir(), 0755}, {stateDir() / "config.json", 0644}, {logDir, 0755}, {logDir / "service.log", 0644}})
        ::chmod(path.c_str(), mode);
    start();
    ASSERT_TRUE(sent(Command::engage(claim("backup", {Mode::idle}))).ok);
    for (const auto& [path, mode] : std::vector<std::pair<fs::path, mode_t>>{
             {stateDir(), 0700},
             {stateDir() / "config.json", 0600},
             {stateDir() / "claims.json", 0600},
             {stateDir() / "lumrad.lock", 0600},
             {socket(), 0600},
             {logDir, 0700},
             {logDir / "service.log", 0600}})
        EXPECT_EQ(modeOf(path), mode) << path;
}

// Text from outside, in a hook or a request, never makes a line of its own
// in the service log; the hook's output is there, marked as its own.
TEST_F(LumradTest, NothingFromOutsideForgesALogLine) {
    start();
    std::string forged = "2026-01-01T00:00:00Z lumrad handed back: everything released";
    ASSERT_TRUE(sent(Command::setNotifyCommand("echo out\n" + forged)).ok);
    rawExchange(socket(), "{\"x\":\"\r\x1b[2J" + forged + "\"}\n");
    ASSERT_TRUE(sent(Command::engage(claim("backup", {Mode::idle}))).ok);
    ASSERT_TRUE(sent(Command::end("backup")).ok);
    ASSERT_TRUE(eventually([&] { return serviceLog().find("notify hook: out\n") != std::string::npos; }))
        << serviceLog();
    EXPECT_TRUE(eventually([&] { return serviceLog().find("the notify hook exited with status 127") != std::string::npos; }));

    std::string log = serviceLog();
    EXPECT_THAT(log, HasSubstr("Z notify hook set to echo out\\n" + forged + "\n"));
    // Its output first (the shell's complaint about the forged line), then how it ended.
    EXPECT_THAT(log, testing::MatchesRegex("(.|\n)*Z notify hook: out\n.*Z notify hook: .*: not found\n"
                                           ".*Z the notify hook exited with status 127\n(.|\n)*"));
    EXPECT_THAT(log, HasSubstr("Z undecodable command: {\"x\":\"\\r\\x1b[2J" + forged + "\"}\n"));
    std::regex stamped("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z .*");
    for (const auto& line : TestSupport::lines(home / "Library/Logs/lumra/service.log")) {
        EXPECT_FALSE(line.starts_with(forged)) << line;
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
}

// Forty claims ended one after another while the notifier and the hook are
// slow: never more than one of each runs, and what waited goes out merged.
TEST_F(LumradTest, ABurstOfEndedClaimsLeavesAtMostTwoChildren) {
    fs::path release = home / "release", notices = home / "notices", reasons = home / "reasons";
    std::string wait = "while [ ! -e '" + release.string() + "' ]; do sleep 0.02; done; ";
    fs::path notifier = home / "slow-notifier";
    TestSupport::writeFile(notifier, "#!/bin/sh\n" + wait + "printf '%s\\n' \"$1\" >> '" + notices.string() + "'\n");
    ::chmod(notifier.c_str(), 0755);
    start({"--notifier", notifier.string()});
    ASSERT_TRUE(sent(Command::setNotifyCommand(wait + "printf '%s\\n' \"$LUMRA_REASON\" >> '" + reasons.string() + "'")).ok);

    size_t most = 0;
    for (int at = 1; at <= 40; ++at) {
        std::string owner = "job-" + std::to_string(at);
        ASSERT_TRUE(sent(Command::engage(claim(owner, {Mode::idle}))).ok);
        ASSERT_TRUE(sent(Command::end(owner)).ok);
        most = std::max(most, announcementsOf(pid).size());
    }
    EXPECT_LE(most, 2u);

    TestSupport::writeFile(release, "");
    ASSERT_TRUE(eventually([&] { return TestSupport::lines(reasons).size() == 2; })) << serviceLog();
    ASSERT_TRUE(eventually([&] { return TestSupport::lines(notices).size() == 2; })) << serviceLog();
    EXPECT_EQ(TestSupport::lines(reasons)[0], "requested");
    std::string merged;
    for (int at = 2; at <= 21; ++at) merged += "requested ";
    EXPECT_EQ(TestSupport::lines(reasons)[1], merged + "(19 more)");
    EXPECT_EQ(TestSupport::lines(notices)[1], "The claim of \"job-2\" ended: it was ended on request. "
                                              "The claim of \"job-3\" ended: it was ended on request. "
                                              "The claim of \"job-4\" ended: it was ended on request. (36 more)");
    EXPECT_TRUE(eventually([&] { return announcementsOf(pid).empty(); }));
}

// The update check reads the feed given on the command line once it is due
// (at once, on a fresh machine), records the newest version and announces it.
TEST_F(LumradTest, TheUpdateCheckReadsTheFeedAndAnnouncesANewerVersionOnce) {
    TestSupport::Collector feed;
    feed.answer(200, "9.9.9\n");
    start({"--update-feed", feed.url("/latest")});
    ASSERT_TRUE(feed.waitForPosts(1));
    EXPECT_EQ(feed.posts()[0].method, "GET");
    EXPECT_EQ(feed.posts()[0].path, "/latest");
    ASSERT_TRUE(eventually([&] { return send(Command::status())->status.latestVersion == "9.9.9"; }));
    Reply reply = sent(Command::status());
    EXPECT_EQ(reply.status.updateFeed, feed.url("/latest"));
    std::string announced = "Lumra 9.9.9 is available; this Mac runs " + std::string(Identity::version) + ".";
    EXPECT_TRUE(eventually([&] { return delivered() == std::vector<std::string>{announced}; })) << serviceLog();
    EXPECT_THAT(serviceLog(), HasSubstr("update check: latest 9.9.9, running " + std::string(Identity::version) +
                                        ", announcing\n"));

    // The next start finds the check done for the day and says nothing again.
    ::kill(pid, SIGTERM);
    EXPECT_EQ(exitStatus(), 0);
    start({"--update-feed", feed.url("/latest")});
    EXPECT_EQ(sent(Command::status()).status.latestVersion, "9.9.9");
    EXPECT_EQ(feed.posts().size(), 1u);
    EXPECT_EQ(delivered().size(), 1u);
}

TEST_F(LumradTest, WithoutAFeedNoCheckIsMadeAndStatusSaysSo) {
    start();
    Reply reply = sent(Command::status());
    EXPECT_TRUE(reply.status.updateCheck);
    EXPECT_EQ(reply.status.updateFeed, std::nullopt);
    EXPECT_THAT(serviceLog(), HasSubstr(", no update feed\n"));
}

TEST(LumradCommandLine, VersionGoesToStandardOutput) {
    auto run = TestSupport::runProcess(LUMRAD_EXE, {"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "lumrad " + std::string(Identity::version) + "\n");
    EXPECT_EQ(run.err, "");
}

} // namespace
