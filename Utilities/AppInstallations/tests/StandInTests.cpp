// The simulated Mac's lsregister, pluginkit, mdfind and open, as a person at
// a terminal would meet them.

#include "RecordsMachine.hpp"

#include <AppInstallations/Records.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace {

using testing::HasSubstr;
const std::string app = "/Applications/App.app";
const std::string dashes(80, '-');

TEST(LsregisterStandIn, DumpsBlocksTheWayTheyAreRead) {
    RecordsMachine mac;
    mac.make(app, "app.x", {"Ext=app.x.ext"}, "2.5");
    auto registered = mac.tool(RecordsMachine::lsregister, {"-f", app});
    EXPECT_EQ(registered.status, 0) << registered.err;
    EXPECT_EQ(registered.out + registered.err, "");

    auto dump = mac.tool(RecordsMachine::lsregister, {"-dump"});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.out, mac.sim({"ls", "dump"}).out);
    // A block per record after the header, the last one not closed, a
    // number after each path and a second identifier line in each block.
    std::string text = dump.out;
    EXPECT_TRUE(text.starts_with("Checking data integrity......done.\n")) << text;
    EXPECT_FALSE(text.ends_with(dashes + "\n")) << text;
    std::regex block(dashes +
                     "\nbundle id: +1\npath: +/Applications/App.app \\(0x1\\)\nname: +App\n"
                     "identifier: +app.x\nversion: +2.5\n(.+\n)+\nclaim id: .+\nrank: +Default\n"
                     "identifier: +public.data\n\n" +
                     dashes + "\nplugin id: +2\npath: +/Applications/App.app/Contents/PlugIns/Ext.appex \\(0x2\\)\n");
    EXPECT_TRUE(std::regex_search(text, block)) << text;
    EXPECT_EQ(
        AppInstallation::parseDump(text),
        (std::vector<AppInstallation::Record>{{app, "app.x"}, {app + "/Contents/PlugIns/Ext.appex", "app.x.ext"}}));

    // Registering again keeps the place; unregistering the app takes what it
    // carries along.
    mac.make(mac.home + "/Copy.app", "app.x");
    mac.registered(mac.home + "/Copy.app");
    mac.registered(app);
    EXPECT_EQ(mac.list(), "app\tapp.x\t2.5\t" + app + "\nappex\tapp.x.ext\t2.5\t" + app +
                              "/Contents/PlugIns/Ext.appex\napp\tapp.x\t1.0\t" + mac.home + "/Copy.app\n");
    EXPECT_EQ(mac.tool(RecordsMachine::lsregister, {"-u", app}).status, 0);
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + mac.home + "/Copy.app\n");
}

// A name or identifier with a line break cannot forge a record of its own.
TEST(LsregisterStandIn, ControlCharactersStayInTheirLine) {
    RecordsMachine mac;
    mac.make(app, "app.x\n" + dashes + "\npath: /Applications/Forged.app (0x9)\nidentifier: app.forged");
    mac.registered(app);
    auto dump = mac.tool(RecordsMachine::lsregister, {"-dump"});
    EXPECT_EQ(AppInstallation::parseDump(dump.out),
              (std::vector<AppInstallation::Record>{{app, "app.x?" + dashes +
                                                              "?path: /Applications/Forged.app (0x9)?"
                                                              "identifier: app.forged"}}));
}

TEST(StandIns, RefusalsTakeOneLine) {
    RecordsMachine mac;
    mac.make(app, "app.x", {"Ext=app.x.ext"});
    const std::string lsregister = RecordsMachine::lsregister, pluginkit = "/usr/bin/pluginkit",
                      mdfind = "/usr/bin/mdfind", none = app + "/Contents/PlugIns/None.appex",
                      onlyQuery = "mdfind: this index answers only the query \"kMDItemCFBundleIdentifier == "
                                  "'<identifier>'\"\n";
    struct Case {
        std::string tool;
        std::vector<std::string> arguments;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {lsregister, {"-f", "/Applications/Gone.app"}, 1, "lsregister: /Applications/Gone.app: No such file or directory\n"},
        {lsregister, {"-u", "/Applications/Gone.app"}, 1, "lsregister: /Applications/Gone.app: No such file or directory\n"},
        {lsregister, {"-f", "/Applications"}, 1, "lsregister: /Applications: not a bundle with an identifier\n"},
        {lsregister, {"-x", app}, 64, "lsregister: unknown option -x\n"},
        {lsregister, {}, 64, "usage: lsregister -dump | -f <path> | -u <path>\n"},
        // An app that is there but not registered is no error to forget.
        {lsregister, {"-u", app}, 0, ""},
        {pluginkit, {"-a", none}, 1, "pluginkit: " + none + ": No such file or directory\n"},
        {pluginkit, {"-a", app}, 1, "pluginkit: " + app + ": not a bundle with an identifier\n"},
        {pluginkit, {"-m"}, 64, "usage: pluginkit -a <path>... | -r <path>... | -m -i <identifier>\n"},
        {pluginkit, {"-z"}, 64, "pluginkit: unknown option -z\n"},
        {mdfind, {"kMDItemDisplayName == 'App'"}, 64, onlyQuery},
        {mdfind, {"kMDItemCFBundleIdentifier == 'a'b'"}, 64, onlyQuery},
        {mdfind, {}, 64, onlyQuery},
    };
    for (const auto& c : cases) {
        auto ran = mac.tool(c.tool, c.arguments);
        EXPECT_EQ(ran.status, c.status) << c.err;
        EXPECT_EQ(ran.err, c.err);
    }
    EXPECT_EQ(mac.list(), "no records\n");
    auto badDelay = mac.sim({"ls", "pluginkit-delay", "-1"});
    EXPECT_EQ(badDelay.status, 64);
    EXPECT_EQ(badDelay.err, "lumra-sim: -1 is no number of seconds\n");
}

TEST(PluginkitStandIn, ListsAddedExtensionsOnceTheirDelayHasPassed) {
    RecordsMachine mac;
    mac.make(app, "app.x", {"Ext=app.x.ext", "Ext2=app.x.ext2"});
    const std::string ext = app + "/Contents/PlugIns/Ext.appex", ext2 = app + "/Contents/PlugIns/Ext2.appex";
    auto pluginkit = [&](const std::vector<std::string>& arguments) {
        return mac.tool("/usr/bin/pluginkit", arguments);
    };
    EXPECT_EQ(pluginkit({"-m", "-i", "app.x.ext"}).out, "");
    EXPECT_EQ(pluginkit({"-a", ext, ext2}).status, 0);
    EXPECT_EQ(pluginkit({"-m", "-i", "app.x.ext"}).out, "     app.x.ext(1.0)\n     app.x.ext2(1.0)\n");
    EXPECT_EQ(pluginkit({"-r", ext}).status, 0);
    EXPECT_EQ(pluginkit({"-m", "-i", "app.x.ext"}).out, "     app.x.ext2(1.0)\n");
    EXPECT_EQ(pluginkit({"-r", ext2}).status, 0);

    ASSERT_EQ(mac.sim({"ls", "pluginkit-delay", "3600"}).status, 0);
    EXPECT_EQ(mac.sim({"ls", "pluginkit-delay"}).out, "3600 s\n");
    EXPECT_EQ(pluginkit({"-a", ext}).status, 0);
    EXPECT_EQ(pluginkit({"-m", "-i", "app.x.ext"}).out, "");
}

TEST(MdfindStandIn, AnswersOnlyTheIdentifierQuery) {
    RecordsMachine mac;
    mac.make(app, "app.x");
    mac.make(app + "/Contents/Helpers/Inner.app", "app.x");
    std::filesystem::create_directory_symlink(mac.host(app), mac.home + "/Link.app");
    auto found = mac.tool("/usr/bin/mdfind", {"kMDItemCFBundleIdentifier == 'app.x'"});
    EXPECT_EQ(found.out, app + "\n");
    EXPECT_EQ(mac.tool("/usr/bin/mdfind", {"kMDItemCFBundleIdentifier==\"app.x\""}).out, app + "\n");
}

TEST(OpenStandIn, RegistersTheAppItStarts) {
    RecordsMachine mac;
    auto made = mac.sim({"bundle", "make", app, "--identifier", "app.x", "--program", "/bin/true"});
    ASSERT_EQ(made.status, 0) << made.err;
    auto opened = mac.tool("/usr/bin/open", {app});
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + app + "\n");
}

} // namespace
