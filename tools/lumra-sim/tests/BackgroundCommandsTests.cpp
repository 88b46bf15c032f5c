// lumra-sim's registry commands: listing, the person's answers, policies
// and scripted failures, seen by an app's registry.

#include <Platform/BackgroundServices.hpp>
#include <Platform/Credentials.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gtest/gtest.h>

namespace {

namespace Background = Platform::BackgroundServices;

TEST(SimBackground, ThePersonApprovesWhatThePolicyAsks) {
    TestSupport::SimMachine machine{LUMRA_SIM_EXE};
    auto sim = [&](const std::vector<std::string>& arguments) { return machine.sim(arguments); };
    ASSERT_EQ(sim({"bundle", "make", "/Applications/Tool.app", "--identifier", "test.tool", "--agent",
                   "test.tool.agent.plist"}).status, 0);
    ASSERT_EQ(sim({"sign", "/Applications/Tool.app", "--identity", "Developer ID Application: T (AB12CD34EF)"}).status, 0);
    auto registry = Background::forApp(machine.root / "Applications/Tool.app", machine.root);
    const Background::Handle agent{Background::Handle::Kind::agent, "test.tool.agent.plist"};

    EXPECT_EQ(sim({"background", "list"}).out, "no registrations\n");
    ASSERT_EQ(sim({"background", "policy", "agent", "ask"}).status, 0);
    ASSERT_EQ(sim({"background", "policy", "login-item", "ask", "deny", "2.5"}).status, 0);
    EXPECT_EQ(sim({"background", "policy"}).out, "agent: ask\ndaemon: ask\nlogin-item: ask (deny after 2.5 s)\n");

    ASSERT_EQ(registry->registerService(agent), std::nullopt);
    std::string line = "gui/" + std::to_string(Platform::Credentials::currentUID(machine.root)) +
                       "\ttest.tool\tagent test.tool.agent.plist\t";
    EXPECT_EQ(sim({"background", "list"}).out, line + "2 requires approval\t/Applications/Tool.app\n");
    auto approved = sim({"background", "approve", "test.tool", "test.tool.agent.plist"});
    EXPECT_EQ(approved.status, 0) << approved.err;
    EXPECT_EQ(sim({"background", "list"}).out, line + "1 enabled\t/Applications/Tool.app\n");

    auto unknown = sim({"background", "deny", "test.tool", "login-item"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "lumra-sim: nothing registered as test.tool login-item\n");

    // Scripted failures come before anything else.
    ASSERT_EQ(sim({"background", "fail", "unregister", "4", "2"}).status, 0);
    EXPECT_EQ(registry->unregisterService(agent),
              (Background::Failure{4, "The request required authorization but the authorization was not granted."}));
    ASSERT_EQ(sim({"background", "fail", "clear"}).status, 0);
    EXPECT_EQ(registry->unregisterService(agent), std::nullopt);

    for (const std::vector<std::string>& arguments : {
             std::vector<std::string>{"background"}, {"background", "list", "x"}, {"background", "approve", "test.tool"},
             {"background", "policy", "agent"}, {"background", "policy", "widget", "ask"},
             {"background", "policy", "agent", "sometimes"}, {"background", "policy", "agent", "enabled", "approve", "3"},
             {"background", "policy", "agent", "ask", "approve", "-3"}, {"background", "fail", "register", "0"},
             {"background", "fail", "register", "5", "0"}, {"background", "fail", "launch", "5"}}) {
        auto finished = sim(arguments);
        EXPECT_EQ(finished.status, 64) << arguments.back();
        EXPECT_NE(finished.err.find("lumra-sim background fail register|unregister <code> [<times>]"),
                  std::string::npos);
    }
}

} // namespace
