// lumra-sim's privacy database commands, seen by an application's services.

#include <Platform/Privacy.hpp>
#include <Platform/PrivacyDatabase.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

namespace {

TEST(SimPrivacy, SettingsChangesReachTheDatabaseAndTheSwitchesTheServices) {
    TestSupport::SimMachine machine{LUMRA_SIM_EXE};
    auto sim = [&](const std::vector<std::string>& arguments) { return machine.sim(arguments); };
    ASSERT_EQ(sim({"init"}).status, 0);
    EXPECT_EQ(sim({"tcc", "list"}).out, "no entries\n");

    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const Row rows[] = {
        {{"tcc", "allow", "kTCCServiceCamera", "app.a"}, 0, ""},
        {{"tcc", "restrict", "kTCCServiceMicrophone", "/usr/local/bin/tool"}, 0, ""},
        {{"tcc", "deny", "kTCCServiceAppleEvents", "app.a", "--target", "app.b"}, 0, ""},
        {{"tcc", "deny", "kTCCServiceCamera", "app.c"}, 0, ""},
        {{"tcc", "reset", "kTCCServiceCamera", "app.c"}, 0, ""},
        {{"tcc", "allow", "kTCCServiceCameraRoll", "app.a"}, 64, "lumra-sim: no privacy service is called kTCCServiceCameraRoll\n"},
        {{"tcc", "allow", "kTCCServiceAppleEvents", "app.a"}, 64, "lumra-sim: kTCCServiceAppleEvents needs --target <bundle ID>\n"},
        {{"tcc", "allow", "kTCCServiceCamera", "app.a", "--target", "app.b"}, 64,
         "lumra-sim: only kTCCServiceAppleEvents takes --target\n"},
        {{"tcc", "allow", "kTCCServiceCamera", ""}, 64, "lumra-sim: the client must be a name in UTF-8\n"},
        {{"tcc", "allow", "kTCCServiceCamera", "app\xff"}, 64, "lumra-sim: the client must be a name in UTF-8\n"},
        {{"tcc", "absent", "preflight"}, 0, ""},
        {{"tcc", "absent", "disclaim"}, 0, ""},
        {{"tcc", "present", "disclaim"}, 0, ""},
        {{"tcc", "disclaim-fails", "0"}, 64, "lumra-sim: 0 is no failure code (a whole number other than 0)\n"},
        {{"tcc", "disclaim-fails", "x1"}, 64, "lumra-sim: x1 is no failure code (a whole number other than 0)\n"},
        {{"tcc", "disclaim-fails", "-7"}, 0, ""},
    };
    for (const auto& row : rows) {
        auto finished = sim(row.arguments);
        EXPECT_EQ(finished.status, row.status) << row.arguments[1] << " " << row.arguments[2];
        EXPECT_EQ(finished.err, row.err);
    }
    std::string listed = std::regex_replace(sim({"tcc", "list"}).out, std::regex("\\d{4}-\\d\\d-\\d\\dT[\\d:]{8}Z"), "T");
    EXPECT_EQ(listed, "app.a  kTCCServiceCamera  allowed  by settings at T\n"
                      "/usr/local/bin/tool  kTCCServiceMicrophone  restricted  by settings at T\n"
                      "app.a  kTCCServiceAppleEvents app.b  denied  by settings at T\n"
                      "TCCAccessPreflight: absent\n"
                      "responsibility_spawnattrs_setdisclaim: fails with -7\n");

    TestSupport::ImmediateQueue queue;
    auto person = Platform::makeSimulatedPerson(machine.root, {std::string("app.a"), ::getpid()}, queue);
    auto services = Platform::Privacy::makeSimulatedServices(machine.root, "app.a", {}, *person, queue, std::nullopt);
    EXPECT_EQ(services->preflight("kTCCServiceCamera"), 0);
    EXPECT_FALSE(services->hasPreflight());
    EXPECT_TRUE(services->hasDisclaim());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    EXPECT_EQ(services->disclaim(attributes, 1), -7);
    posix_spawnattr_destroy(&attributes);

    ASSERT_EQ(sim({"tcc", "present", "preflight"}).status, 0);
    ASSERT_EQ(sim({"tcc", "disclaim-fails", "off"}).status, 0);
    EXPECT_EQ(Platform::PrivacyDatabase::entryPoints(machine.root), Platform::PrivacyDatabase::EntryPoints{});

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"tcc"}, {"tcc", "list", "app.a"}, {"tcc", "grant", "kTCCServiceCamera", "app.a"},
          {"tcc", "allow", "kTCCServiceCamera"}, {"tcc", "allow", "kTCCServiceCamera", "app.a", "--target"},
          {"tcc", "allow", "kTCCServiceCamera", "app.a", "--into", "app.b"}, {"tcc", "absent", "everything"},
          {"tcc", "present"}, {"tcc", "disclaim-fails"}}) {
        auto finished = sim(arguments);
        EXPECT_EQ(finished.status, 64) << arguments.back();
        EXPECT_NE(finished.err.find("lumra-sim tcc allow|deny|restrict|reset <service> <client> [--target <bundle ID>]"),
                  std::string::npos);
    }
}

} // namespace
