// The app's records in Launch Services and the extension registry, through
// the real lsregister, pluginkit and mdfind stand-ins, each test on a
// simulated machine of its own.

#include "RecordsMachine.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::UnorderedElementsAre;

const std::string installed = "/Applications/App.app";
const std::string installedExt = installed + "/Contents/PlugIns/Ext.appex";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) found.push_back(line);
    return found;
}

TEST(OnlyRecord, LeavesTheInstalledCopyAsTheOnlyRecord) {
    RecordsMachine mac;
    const std::string downloaded = mac.home + "/Downloads/App.app", trashed = mac.home + "/.Trash/App.app",
                      other = mac.home + "/Downloads/Other.app";
    mac.make(installed, "app.x", {"Ext=app.x.ext"});
    mac.make(downloaded, "app.x", {"Ext=app.x.ext"});
    mac.make(trashed, "app.x");
    mac.make(other, "other.y");
    for (const auto& app : {downloaded, installed, trashed, other}) mac.registered(app);
    ASSERT_EQ(mac.tool("/usr/bin/pluginkit", {"-a", downloaded + "/Contents/PlugIns/Ext.appex"}).status, 0);

    auto only = mac.probe({"only", installed + "/"});
    EXPECT_EQ(only.status, 0) << only.err;
    // The installed copy's own extension is no stray; the Trash is no refuge.
    EXPECT_EQ(only.out, "said: unregistered app.x at " + downloaded + "\n" +                                    //
                            "said: unregistered app.x.ext at " + downloaded + "/Contents/PlugIns/Ext.appex\n" + //
                            "said: unregistered app.x at " + trashed + "\n" +                                   //
                            "said: app.x: the only record is /Applications/App.app, its extensions listed: app.x.ext\n"
                            "removed: " +
                            downloaded + " " + downloaded + "/Contents/PlugIns/Ext.appex " + trashed +
                            "\nextensions: app.x.ext\n");
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + installed + "\nappex\tapp.x.ext\t1.0\t" + installedExt +
                              "\napp\tother.y\t1.0\t" + other + "\n");
    EXPECT_EQ(mac.tool("/usr/bin/pluginkit", {"-m", "-i", "app.x.ext"}).out, "     app.x.ext(1.0)\n");

    // Reached through a link, the app is the one the link leads to.
    fs::create_directory_symlink(mac.host(installed), mac.home + "/Linked.app");
    EXPECT_EQ(mac.probe({"only", mac.home + "/Linked.app"}).out,
              "said: app.x: the only record is /Applications/App.app, its extensions listed: app.x.ext\n"
              "removed:\nextensions: app.x.ext\n");
}

// Nested apps and extensions count; links inside the bundle are not
// followed, whatever they lead to.
TEST(Carried, TheAppAndWhatItShipsNeverThroughLinks) {
    RecordsMachine mac;
    mac.make(installed, "app.x", {"Ext=app.x.ext"});
    mac.make(installed + "/Contents/Helpers/Helper.app", "app.x.helper", {"Deep=app.x.deep"});
    mac.make(mac.home + "/Elsewhere.app", "app.y", {"Far=app.y.far"});
    fs::create_directory_symlink(mac.home + "/Elsewhere.app/Contents/PlugIns/Far.appex",
                                 mac.host(installed) / "Contents/PlugIns/Far.appex");
    fs::create_directory_symlink(mac.home + "/Elsewhere.app", mac.host(installed) / "Contents/Helpers/Linked.app");
    fs::create_directory_symlink(mac.home, mac.host(installed) / "Contents/Resources");
    auto carried = lines(mac.probe({"carried", installed}).out);
    ASSERT_FALSE(carried.empty());
    EXPECT_EQ(carried.front(), "app.x /Applications/App.app");
    EXPECT_THAT(std::vector<std::string>(carried.begin() + 1, carried.end()),
                UnorderedElementsAre("app.x.ext " + installedExt,
                                     "app.x.helper /Applications/App.app/Contents/Helpers/Helper.app",
                                     "app.x.deep /Applications/App.app/Contents/Helpers/Helper.app/Contents/PlugIns/"
                                     "Deep.appex"));
    EXPECT_EQ(mac.probe({"carried", mac.home + "/Nothing.app"}).out, "");
}

TEST(OnlyRecord, WithoutExtensionsAndWhenFailingSaysWhatHappened) {
    RecordsMachine mac;
    mac.make(installed, "app.x");
    // Without extensions, none are listed.
    EXPECT_EQ(mac.probe({"only", installed}).out,
              "said: app.x: the only record is /Applications/App.app\nremoved:\nextensions:\n");
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + installed + "\n");
    fs::create_directories(mac.home + "/Empty.app/Contents");
    EXPECT_EQ(mac.probe({"only", mac.home + "/Empty.app"}).out,
              "error: " + mac.home + "/Empty.app is not an app bundle (no CFBundleIdentifier)\n");
    EXPECT_EQ(mac.probe({"only", "/Applications/Gone.app"}).out,
              "error: /Applications/Gone.app is not an app bundle (no CFBundleIdentifier)\n");

    mac.replaceTool(RecordsMachine::lsregister, "echo 'database locked'; exit 3");
    auto failed = mac.probe({"only", installed});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "error: lsregister -dump exited 3\n");

    // A stray that will not go is told about, not thrown; registering the
    // installed copy must work.
    mac.replaceTool(RecordsMachine::lsregister, R"(case "$1" in
-dump) printf -- '-----\npath: /Volumes/Disk/App.app (0x7)\nidentifier: app.x\n' ;;
-u) echo "lsregister: $2: busy"; exit 2 ;;
-f) echo "lsregister: $2: read-only database"; exit 5 ;;
esac)");
    EXPECT_EQ(mac.probe({"only", installed}).out,
              "said: unregistered app.x at /Volumes/Disk/App.app (lsregister said 2: lsregister: "
              "/Volumes/Disk/App.app: busy)\n"
              "error: lsregister -f /Applications/App.app exited 5: lsregister: /Applications/App.app: read-only "
              "database\n");
}

// A listing that names app.x.ext2 does not list app.x.ext: the extension is
// added again and again, then given up on.
TEST(OnlyRecord, AnExtensionNeverListedEndsInAnError) {
    RecordsMachine mac;
    mac.make(installed, "app.x", {"Ext=app.x.ext"});
    mac.make("/Applications/Other.app", "other.y", {"Ext2=app.x.ext2"});
    mac.clockRate(1000);
    fs::create_directories(mac.machine.root / "launchservices");
    std::ofstream(mac.machine.root / "launchservices/extensions.json")
        << R"({"delay": 1e9, "extensions": [{"path": "/Applications/Other.app/Contents/PlugIns/Ext2.appex",
              "identifier": "app.x.ext2", "version": "2.0", "addedAt": 0}]})";
    EXPECT_EQ(mac.tool("/usr/bin/pluginkit", {"-m", "-i", "app.x.ext2"}).out, "     app.x.ext2(2.0)\n");

    auto only = mac.probe({"only", installed});
    EXPECT_EQ(only.status, 1);
    EXPECT_EQ(only.out, "error: pluginkit never listed app.x.ext (" + installedExt + ") after 20 adds over 20 s\n");
    // Registered all the same, and added: just not listed yet.
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + installed + "\nappex\tapp.x.ext\t1.0\t" + installedExt + "\n");
    EXPECT_EQ(mac.tool("/usr/bin/pluginkit", {"-m", "-i", "app.x.ext"}).out, "     app.x.ext2(2.0)\n");
}

TEST(OnlyRecord, ASlowListingIsWaitedFor) {
    RecordsMachine mac;
    mac.make(installed, "app.x", {"Ext=app.x.ext"});
    mac.clockRate(10); // a second between attempts lasts 100 ms
    ASSERT_EQ(mac.sim({"ls", "pluginkit-delay", "3"}).status, 0);
    auto only = mac.probe({"only", installed});
    EXPECT_EQ(only.status, 0);
    EXPECT_THAT(only.out, HasSubstr("extensions: app.x.ext\n"));
}

TEST(RemoveStrays, KeepsCopiesInApplicationsAndTheTrash) {
    RecordsMachine mac;
    const std::string mine = mac.home + "/Applications/App.app", trashed = mac.home + "/.Trash/App.app",
                      downloaded = mac.home + "/Downloads/App.app", image = "/Volumes/Disk/App.app";
    mac.make(installed, "app.x", {"Ext=app.x.ext"});
    mac.make(mine, "app.x");
    mac.make(trashed, "app.x");
    mac.make(downloaded, "app.x", {"Ext=app.x.ext"});
    mac.make(image, "app.x");
    for (const auto& app : {installed, mine, trashed, downloaded, image}) mac.registered(app);
    ASSERT_EQ(mac.tool("/usr/bin/pluginkit", {"-a", downloaded + "/Contents/PlugIns/Ext.appex"}).status, 0);

    auto strays = mac.probe({"strays", installed});
    EXPECT_EQ(strays.status, 0) << strays.err;
    EXPECT_EQ(strays.out, "said: unregistered app.x at " + downloaded + "\n" +                                    //
                              "said: unregistered app.x.ext at " + downloaded + "/Contents/PlugIns/Ext.appex\n" + //
                              "said: unregistered app.x at " + image + "\n" +                                     //
                              "removed: " + downloaded + " " + downloaded + "/Contents/PlugIns/Ext.appex " + image +
                              "\n");
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + installed + "\nappex\tapp.x.ext\t1.0\t" + installedExt +
                              "\napp\tapp.x\t1.0\t" + mine + "\napp\tapp.x\t1.0\t" + trashed + "\n");
    EXPECT_EQ(mac.tool("/usr/bin/pluginkit", {"-m", "-i", "app.x.ext"}).out, "");
}

TEST(UnregisterAppsUnder, FindsAppsOutsideGitAndLinks) {
    RecordsMachine mac;
    const std::string build = mac.home + "/build", debug = build + "/Debug/App.app",
                      release = build + "/Release/Deep/App.app", hidden = build + "/.git/objects/App.app";
    mac.make(installed, "app.x", {"Ext=app.x.ext"});
    mac.make(debug, "app.x", {"Ext=app.x.ext"});
    mac.make(release, "app.x");
    mac.make(hidden, "app.x");
    mac.make(debug + "/Contents/Helpers/Inner.app", "app.x.inner");
    fs::create_directory_symlink(mac.host(installed), build + "/Link.app");
    fs::create_directory_symlink(mac.host("/Applications"), build + "/Applications");
    for (const auto& app : {installed, debug, hidden}) mac.registered(app);
    ASSERT_EQ(mac.tool("/usr/bin/pluginkit", {"-a", debug + "/Contents/PlugIns/Ext.appex"}).status, 0);

    auto found = mac.probe({"unregister", build + "/"});
    EXPECT_EQ(found.status, 0) << found.err;
    auto said = lines(found.out);
    ASSERT_EQ(said.size(), 3u) << found.out;
    EXPECT_THAT(std::vector<std::string>(said.begin(), said.begin() + 2),
                UnorderedElementsAre("said: unregistered " + debug, "said: unregistered " + release));
    EXPECT_THAT(said[2], testing::AnyOf("apps: " + debug + " " + release, "apps: " + release + " " + debug));
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + installed + "\nappex\tapp.x.ext\t1.0\t" + installedExt +
                              "\napp\tapp.x\t1.0\t" + hidden + "\n");
    EXPECT_EQ(mac.tool("/usr/bin/pluginkit", {"-m", "-i", "app.x.ext"}).out, "");
}

TEST(IndexedCopies, FindsBundlesNotInsideOthersNorThroughLinks) {
    RecordsMachine mac;
    mac.make(installed, "app.x");
    mac.make(mac.home + "/Downloads/App.app", "app.x");
    mac.make("/Volumes/Disk/Sub/App.app", "app.x");
    mac.make("/Applications/Holder.app", "other.y");
    mac.make("/Applications/Holder.app/Contents/Resources/App.app", "app.x");
    mac.make(mac.home + "/.hidden/App.app", "app.x");
    mac.make(mac.home + "/Downloads/Other.app", "app.xy");
    fs::create_directories(mac.home + "/Links");
    fs::create_directory_symlink(mac.host(installed), mac.home + "/Links/App.app");
    fs::create_directory_symlink(mac.host("/Volumes/Disk"), mac.home + "/Links/Disk");

    auto copies = mac.probe({"indexed", "app.x"});
    EXPECT_EQ(copies.out, installed + "\n/Volumes/Disk/Sub/App.app\n" + mac.home + "/Downloads/App.app\n");
    EXPECT_EQ(mac.probe({"indexed", "app.none"}).out, "");

    // What reaches the tool, and what never does.
    std::string asked = (mac.machine.scratch / "asked").string();
    mac.replaceTool("/usr/bin/mdfind", "printf '%s\\n' \"$@\" >> " + asked + "; printf '/A.app\\n\\n/B.app\\n'");
    EXPECT_EQ(mac.probe({"indexed", "app.x"}).out, "/A.app\n/B.app\n");
    for (std::string identifier : {"", "app.x' || true || '", "../app", ".app", "app x", "app/x"}) {
        auto refused = mac.probe({"indexed", identifier}, {{"LOG_FORMAT", "json"}});
        EXPECT_EQ(refused.out, "") << identifier;
        EXPECT_THAT(refused.err, HasSubstr("identifier not plain: not searched")) << identifier;
    }
    std::ifstream file(asked);
    std::string all((std::istreambuf_iterator<char>(file)), {});
    EXPECT_EQ(all, "kMDItemCFBundleIdentifier == 'app.x'\n");
}

TEST(Claim, ClaimsInTheBackgroundAndGoesOnAfterAFailure) {
    RecordsMachine mac;
    const std::string downloaded = mac.home + "/Downloads/App.app";
    mac.make(installed, "app.x");
    mac.make(downloaded, "app.x");
    mac.registered(downloaded);
    auto claimed = mac.probe({"claim", installed}, {{"LOG_FORMAT", "json"}, {"LOG_LEVEL", "info"}});
    EXPECT_EQ(claimed.status, 0);
    auto events = lines(claimed.err);
    ASSERT_EQ(events.size(), 3u) << claimed.err;
    EXPECT_THAT(events[0], HasSubstr("\"records not claimed\""));
    EXPECT_THAT(events[0], HasSubstr("/Applications/App.app/Contents is not an app bundle (no CFBundleIdentifier)"));
    EXPECT_THAT(events[1], HasSubstr("\"record removed\""));
    EXPECT_THAT(events[1], HasSubstr("\"record\":\"" + downloaded + "\""));
    EXPECT_THAT(events[2], HasSubstr("\"the only record\""));
    EXPECT_THAT(events[2], HasSubstr("\"removed\":1"));
    EXPECT_EQ(mac.list(), "app\tapp.x\t1.0\t" + installed + "\n");
}

TEST(AppRecords, ListsThisAppsRecordsWherever) {
    RecordsMachine mac;
    const std::string app = "/Applications/Lumra.app", copy = mac.home + "/Downloads/Lumra.app";
    for (const auto& path : {app, copy}) {
        auto made = mac.sim({"bundle", "make", path, "--identifier", "app.lumra.test", "--executable", "lumra",
                             "--program", LUMRA_EXE, "--extension", "Ext=app.lumra.test.ext"});
        ASSERT_EQ(made.status, 0) << made.err;
        mac.registered(path);
    }
    mac.make("/Applications/Other.app", "app.lumra.testing");
    mac.registered("/Applications/Other.app");

    auto listed = mac.tool(app + "/Contents/MacOS/lumra", {"app", "records"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "app.lumra.test\t" + app + "\napp.lumra.test.ext\t" + app +
                              "/Contents/PlugIns/Ext.appex\napp.lumra.test\t" + copy + "\napp.lumra.test.ext\t" + copy +
                              "/Contents/PlugIns/Ext.appex\n");

    fs::path bareBuild = mac.machine.scratch / "lumra";
    fs::copy_file(LUMRA_EXE, bareBuild);
    auto bare = TestSupport::runProcess(bareBuild, {"app", "records"}, mac.machine.environment());
    EXPECT_EQ(bare.status, 1);
    EXPECT_EQ(bare.err, "lumra app records: this lumra runs from a bare build, outside any app\n");
    auto extra = mac.tool(app + "/Contents/MacOS/lumra", {"app", "records", "--all"});
    EXPECT_EQ(extra.status, 2);
    EXPECT_THAT(extra.err, HasSubstr("lumra app records: takes no arguments\n"));
}

} // namespace
