// The registry and launchd together: a job the person approves really runs,
// from the copy that registered it, and leaves when switched off or
// unregistered.

#include <Platform/BackgroundServices.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Files.hpp>
#include <Platform/Launchd.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/LaunchdJobs.hpp>
#include <TestSupport/Subprocess.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <thread>

namespace {

namespace fs = std::filesystem;
namespace Background = Platform::BackgroundServices;
namespace Launchd = Platform::Launchd;

class BackgroundJobs : public testing::Test {
protected:
    TestSupport::Finished sim(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(LUMRA_SIM_EXE, arguments,
                                       {{"HOME", home.path().string()}, {"LUMRA_SIM_ROOT", root().string()}});
    }
    fs::path root() const { return scratch / "machine"; }

    // A signed copy of the app whose agent sleeps until stopped.
    fs::path makeApp(const std::string& macPath) {
        TestSupport::writeFile(scratch / "job", "#!/bin/sh\nexec sleep 60\n");
        auto made = sim({"bundle", "make", macPath, "--identifier", "test.jobs", "--program",
                         (scratch / "job").string(), "--agent", "test.jobs.agent.plist"});
        EXPECT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(sim({"sign", macPath, "--identity", "Developer ID Application: T (AB12CD34EF)"}).status, 0);
        return made.out.substr(0, made.out.size() - 1);
    }

    // The job's running process, waiting a little for launchd to start it.
    std::optional<Launchd::Job> running() {
        for (int tries = 0; tries < 40; ++tries) {
            auto job = Launchd::find(domain(), "test.jobs.agent", root());
            if (job && job->pid) return job;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return std::nullopt;
    }

    bool ends(pid_t pid) {
        for (int tries = 0; tries < 40 && !TestSupport::hasEnded(pid); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        return TestSupport::hasEnded(pid);
    }

    std::string domain() const { return Launchd::guiDomain(Platform::Credentials::currentUID(root())); }

    TestSupport::TempDir home;
    TestSupport::TempDir scratch;
    TestSupport::TempDir downloads;
    TestSupport::LaunchdJobs jobs{scratch / "machine"};
    const Background::Handle agent{Background::Handle::Kind::agent, "test.jobs.agent.plist"};
};

TEST_F(BackgroundJobs, AnApprovedAgentRunsUntilSwitchedOffOrUnregistered) {
    fs::path installed = makeApp("/Applications/Jobs.app");
    auto registry = Background::forApp(installed, root());
    ASSERT_EQ(sim({"background", "policy", "agent", "ask"}).status, 0);
    ASSERT_EQ(registry->registerService(agent), std::nullopt);
    EXPECT_EQ(Launchd::find(domain(), "test.jobs.agent", root()), std::nullopt);

    // The person approves: launchd runs the job from this copy.
    ASSERT_EQ(sim({"background", "approve", "test.jobs", "test.jobs.agent.plist"}).status, 0);
    auto job = running();
    ASSERT_TRUE(job);
    EXPECT_EQ(job->programArguments.at(0), (installed / "Contents/MacOS/Jobs").string());
    auto environment = Platform::Files::read("/proc/" + std::to_string(*job->pid) + "/environ").value_or("");
    EXPECT_NE(environment.find(std::string("XPC_SERVICE_NAME=test.jobs.agent") + '\0'), std::string::npos);

    // Registered from another copy, the job runs from there instead.
    fs::path copy = makeApp((downloads / "Jobs.app").string());
    ASSERT_EQ(Background::forApp(copy, root())->registerService(agent), std::nullopt);
    EXPECT_TRUE(ends(*job->pid));
    job = running();
    ASSERT_TRUE(job);
    EXPECT_EQ(job->programArguments.at(0), (fs::weakly_canonical(copy) / "Contents/MacOS/Jobs").string());

    // Switched off, it stops; approved again, it runs again.
    ASSERT_EQ(sim({"background", "deny", "test.jobs", "test.jobs.agent.plist"}).status, 0);
    EXPECT_TRUE(ends(*job->pid));
    EXPECT_EQ(Launchd::find(domain(), "test.jobs.agent", root()), std::nullopt);
    EXPECT_EQ(registry->status(agent), Background::requiresApproval);
    ASSERT_EQ(sim({"background", "approve", "test.jobs", "test.jobs.agent.plist"}).status, 0);
    job = running();
    ASSERT_TRUE(job);

    // Unregistered, it leaves launchd.
    EXPECT_EQ(registry->unregisterService(agent), std::nullopt);
    EXPECT_TRUE(ends(*job->pid));
    EXPECT_EQ(Launchd::find(domain(), "test.jobs.agent", root()), std::nullopt);
}

} // namespace
