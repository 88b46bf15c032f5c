// The registry and launchd together: a job the person approves really runs,
// from the copy that registered it, and leaves when switched off or
// unregistered.

#include <Platform/BackgroundServices.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/Launchd.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
namespace Background = Platform::BackgroundServices;
namespace Launchd = Platform::Launchd;
using TestSupport::ends;

TEST(BackgroundJobs, AnApprovedAgentRunsUntilSwitchedOffOrUnregistered) {
    TestSupport::SimMachine machine{LUMRA_SIM_EXE};
    TestSupport::TempDir downloads;
    TestSupport::writeFile(machine.scratch / "job", "#!/bin/sh\nexec sleep 60\n");
    // A signed copy of the app whose agent sleeps until stopped.
    auto makeApp = [&](const std::string& macPath) {
        auto made = machine.sim({"bundle", "make", macPath, "--identifier", "test.jobs", "--program",
                                 (machine.scratch / "job").string(), "--agent", "test.jobs.agent.plist"});
        EXPECT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(machine.sim({"sign", macPath, "--identity", "Developer ID Application: T (AB12CD34EF)"}).status, 0);
        return fs::path(made.out.substr(0, made.out.size() - 1));
    };
    std::string domain = Launchd::guiDomain(Platform::Credentials::currentUID(machine.root));
    auto find = [&] { return Launchd::find(domain, "test.jobs.agent", machine.root); };
    std::optional<Launchd::Job> job;
    auto running = [&] { return TestSupport::eventually([&] { return (job = find()) && job->pid; }); };
    auto answer = [&](const std::string& how) {
        ASSERT_EQ(machine.sim({"background", how, "test.jobs", "test.jobs.agent.plist"}).status, 0);
    };
    const Background::Handle agent{Background::Handle::Kind::agent, "test.jobs.agent.plist"};

    fs::path installed = makeApp("/Applications/Jobs.app");
    auto registry = Background::forApp(installed, machine.root);
    ASSERT_EQ(machine.sim({"background", "policy", "agent", "ask"}).status, 0);
    ASSERT_EQ(registry->registerService(agent), std::nullopt);
    EXPECT_EQ(find(), std::nullopt);

    // The person approves: launchd runs the job from this copy.
    answer("approve");
    ASSERT_TRUE(running());
    EXPECT_EQ(job->programArguments.at(0), (installed / "Contents/MacOS/Jobs").string());
    // Read once the job has its own environment (the moment after its start).
    EXPECT_TRUE(TestSupport::eventually([&] {
        return TestSupport::environmentOf(*job->pid).find("XPC_SERVICE_NAME=test.jobs.agent\n") != std::string::npos;
    }));

    // Registered from another copy, the job runs from there instead.
    fs::path copy = makeApp((downloads / "Jobs.app").string());
    ASSERT_EQ(Background::forApp(copy, machine.root)->registerService(agent), std::nullopt);
    EXPECT_TRUE(ends(*job->pid));
    ASSERT_TRUE(running());
    EXPECT_EQ(job->programArguments.at(0), (fs::weakly_canonical(copy) / "Contents/MacOS/Jobs").string());

    // Switched off, it stops; approved again, it runs again.
    answer("deny");
    EXPECT_TRUE(ends(*job->pid));
    EXPECT_EQ(find(), std::nullopt);
    EXPECT_EQ(registry->status(agent), Background::requiresApproval);
    answer("approve");
    ASSERT_TRUE(running());

    // Unregistered, it leaves launchd.
    EXPECT_EQ(registry->unregisterService(agent), std::nullopt);
    EXPECT_TRUE(ends(*job->pid));
    EXPECT_EQ(find(), std::nullopt);
}

} // namespace
