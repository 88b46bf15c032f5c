// The simulated launchd's reading of job definitions and its records, with
// jobs that do not start at load: no process runs here (the scenario tests
// in tools/launchctl run real jobs).

#include <Platform/Launchd.hpp>
#include <Platform/ProcessTable.hpp>
#include <Platform/PropertyList.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace Platform;

class LaunchdTest : public testing::Test {
protected:
    // Bootstraps a definition of these keys: "loaded", or the refusal.
    std::string loaded(const std::string& domain, const PropertyValue& keys,
                       const std::optional<fs::path>& bundle = std::nullopt) {
        TestSupport::writeFile(folder / "job.plist", Platform::encodePropertyList(keys, Platform::PropertyListFormat::xml));
        return Launchd::bootstrap(domain, folder / "job.plist", bundle, root.path()).value_or("loaded");
    }
    fs::path record(const std::string& domain, const std::string& label) {
        return root / "launchd/jobs" / domain / (label + ".json");
    }

    TestSupport::TempDir root, folder;
};

TEST_F(LaunchdTest, DefinitionsNameTheProgramByHostPath) {
    fs::path bundle = root / "Applications/Lumra.app";
    struct Case {
        PropertyDictionary keys;
        std::optional<fs::path> bundle;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {{{"Label", "a.tool"}, {"ProgramArguments", PropertyArray{"/opt/tool", "--flag", "x"}}}, {},
         {"/opt/tool", "--flag", "x"}},
        // Program wins over the first argument; a system location lives under the root.
        {{{"Label", "a.pmset"}, {"Program", "/usr/bin/pmset"}, {"ProgramArguments", PropertyArray{"pmset", "-g"}}}, {},
         {(root / "usr/bin/pmset").string(), "-g"}},
        {{{"Label", "a.bundled"}, {"BundleProgram", "Contents/MacOS/lumrad"}, {"RunAtLoad", false}}, bundle,
         {(bundle / "Contents/MacOS/lumrad").string()}},
        {{{"Label", "a.both"}, {"BundleProgram", "Contents/MacOS/lumrad"}, {"Program", "/opt/other"}}, bundle,
         {(bundle / "Contents/MacOS/lumrad").string()}},
    };
    for (const auto& c : cases) {
        std::string label = *c.keys.at("Label").as<std::string>();
        ASSERT_EQ(loaded("gui/501", c.keys, c.bundle), "loaded") << label;
        auto job = Launchd::find("gui/501", label, root.path());
        ASSERT_TRUE(job) << label;
        EXPECT_EQ(job->domain + " " + job->label + " " + job->definition.string(),
                  "gui/501 " + label + " " + (folder / "job.plist").string());
        EXPECT_EQ(job->programArguments, c.arguments) << label;
        EXPECT_FALSE(job->runAtLoad || job->keepAlive || job->pid || job->lastExitStatus || job->runs);
    }
}

TEST_F(LaunchdTest, BadDefinitionsAreRefusedAndLeaveNothing) {
    const std::string at = (folder / "job.plist").string();
    // A job with a program, a label and `more`.
    auto with = [](const PropertyValue& label, PropertyDictionary more = {}) {
        more.emplace("Label", label);
        more.emplace("ProgramArguments", PropertyArray{"/bin/true"});
        return more;
    };
    std::vector<std::pair<PropertyValue, std::string>> cases = {
        {PropertyArray{"Label"}, "the job definition " + at + " is not a dictionary"},
        {PropertyDictionary{{"Program", "/bin/true"}}, "the job definition " + at + " has no Label"},
        {with(int64_t{5}), "the job definition " + at + " has no Label"},
        {with("a.b", {{"RunAtLoad", "yes"}}), "RunAtLoad of " + at + " must be true or false"},
        {with("a.b", {{"KeepAlive", PropertyDictionary{}}}), "KeepAlive of " + at + " must be true or false"},
        {with("a.b", {{"ProgramArguments", PropertyArray{"/bin/true", int64_t{1}}}}),
         "ProgramArguments of " + at + " must be a list of texts"},
        {with("a.b", {{"ProgramArguments", "/bin/true"}}), "ProgramArguments of " + at + " must be a list of texts"},
        {PropertyDictionary{{"Label", "a.b"}, {"RunAtLoad", true}}, "the job definition " + at + " names no program"},
        {with("a.b", {{"Program", "bin/true"}}), "the program bin/true of " + at + " is not an absolute path"},
        {with("a.b", {{"BundleProgram", "Contents/MacOS/x"}}),
         "BundleProgram of " + at + " needs the app bundle it belongs to"},
    };
    for (const std::string& label :
         std::vector<std::string>{"a/b", "../../escape", ".hidden", "", "two\nlines", std::string(241, 'x')})
        cases.emplace_back(with(label), "the label \"" + label + "\" cannot name a job");
    for (const auto& [keys, error] : cases) EXPECT_EQ(loaded("gui/501", keys), error);
    for (const std::string outside : {"/abs", "../../x", "Contents/../../x"})
        EXPECT_EQ(loaded("gui/501", with("a.b", {{"BundleProgram", outside}}), root / "X.app"),
                  "BundleProgram of " + at + " must be a path inside the bundle");
    EXPECT_EQ(Launchd::bootstrap("gui/501", folder / "missing.plist", std::nullopt, root.path()),
              "cannot read the job definition " + (folder / "missing.plist").string());
    EXPECT_TRUE(Launchd::list(root.path()).empty());
    EXPECT_FALSE(fs::exists(root / "launchd/jobs"));
    EXPECT_FALSE(fs::exists(root / "escape.json"));
}

TEST_F(LaunchdTest, OnlySystemAndGuiDomainsWithACanonicalUid) {
    PropertyDictionary keys{{"Label", "a.b"}, {"ProgramArguments", PropertyArray{"/bin/true"}}};
    for (const std::string domain : {"gui/0501", "gui/", "gui/-1", "gui/501/x", "user/501", "System", "", "..",
                                     "gui/99999999999"}) {
        EXPECT_EQ(Launchd::domainUID(domain), std::nullopt) << domain;
        EXPECT_EQ(loaded(domain, keys), "unknown domain \"" + domain + "\"");
        EXPECT_FALSE(Launchd::find(domain, "a.b", root.path()));
        EXPECT_FALSE(Launchd::bootout(domain, "a.b", root.path()));
        EXPECT_FALSE(Launchd::kickstart(domain, "a.b", true, root.path()));
    }
    EXPECT_EQ(Launchd::domainUID("system"), 0u);
    EXPECT_EQ(Launchd::domainUID(Launchd::guiDomain(501)), 501u);
    EXPECT_FALSE(fs::exists(root / "launchd/jobs"));
}

TEST_F(LaunchdTest, JobsAreListedByDomainThenLabelAndLoadedOnce) {
    for (const auto& [domain, label] : std::vector<std::pair<std::string, std::string>>{
             {"system", "b.daemon"}, {"gui/501", "z.agent"}, {"gui/20", "m.agent"}, {"gui/501", "a.agent"}})
        ASSERT_EQ(loaded(domain, PropertyDictionary{{"Label", label}, {"Program", "/opt/x"}}), "loaded");
    EXPECT_EQ(loaded("gui/501", PropertyDictionary{{"Label", "a.agent"}, {"Program", "/opt/y"}}),
              "service already loaded: gui/501/a.agent");
    std::vector<std::string> listed;
    for (const auto& job : Launchd::list(root.path())) listed.push_back(job.domain + " " + job.label);
    EXPECT_EQ(listed, (std::vector<std::string>{"gui/20 m.agent", "gui/501 a.agent", "gui/501 z.agent",
                                                "system b.daemon"}));
    EXPECT_EQ(Launchd::find("gui/501", "a.agent", root.path())->programArguments, std::vector<std::string>{"/opt/x"});
    EXPECT_FALSE(Launchd::find("gui/20", "a.agent", root.path()));

    EXPECT_TRUE(Launchd::bootout("gui/501", "a.agent", root.path()));
    EXPECT_FALSE(Launchd::bootout("gui/501", "a.agent", root.path()));
    EXPECT_FALSE(fs::exists(record("gui/501", "a.agent")));
    Launchd::stopAll(root.path());
    EXPECT_TRUE(Launchd::list(root.path()).empty());
}

TEST_F(LaunchdTest, ARecordedPidIsTheJobOnlyWithItsStartTime) {
    ASSERT_EQ(loaded("gui/501", PropertyDictionary{{"Label", "a.b"}, {"Program", "/opt/x"}}), "loaded");
    auto stat = TestSupport::contents("/proc/" + std::to_string(::getpid()) + "/stat");
    uint64_t started = *Platform::ProcessTable::startTicks(stat, ::getpid());
    fs::path file = record("gui/501", "a.b");
    auto edited = [&](nlohmann::json process) {
        auto value = nlohmann::json::parse(TestSupport::contents(file));
        value["process"] = std::move(process);
        TestSupport::writeFile(file, value.dump());
        return Launchd::find("gui/501", "a.b", root.path());
    };
    EXPECT_EQ(edited({{"pid", ::getpid()}, {"started", started}})->pid, ::getpid());
    // Another process under a reused ID, one long gone, and damaged entries.
    EXPECT_EQ(edited({{"pid", ::getpid()}, {"started", started + 1}})->pid, std::nullopt);
    EXPECT_EQ(edited({{"pid", 999'999'999}, {"started", started}})->pid, std::nullopt);
    EXPECT_EQ(edited({{"pid", -1}, {"started", started}})->pid, std::nullopt);
    EXPECT_EQ(edited("1234")->pid, std::nullopt);

    // Records edited by hand: wrong types read as no job, or as the default.
    auto original = nlohmann::json::parse(TestSupport::contents(file));
    const std::pair<nlohmann::json, bool> damaged[] = {
        {{{"runAtLoad", "yes"}, {"runs", -2}, {"lastExitStatus", "3"}, {"supervisor", 7}}, true},
        {{{"uid", -1}}, false}, {{{"uid", 1ull << 40}}, false}, {{{"programArguments", nlohmann::json::array()}}, false},
        {{{"programArguments", {1}}}, false}, {{{"label", "a.c"}}, false}, {{{"domain", "gui/20"}}, false}};
    for (const auto& [change, readable] : damaged) {
        auto value = original;
        value.update(change);
        TestSupport::writeFile(file, value.dump());
        auto job = Launchd::find("gui/501", "a.b", root.path());
        EXPECT_EQ(job.has_value(), readable) << change;
        EXPECT_FALSE(job && (job->runAtLoad || job->pid || job->lastExitStatus || job->runs));
    }
    TestSupport::writeFile(file, "{damaged");
    EXPECT_FALSE(Launchd::find("gui/501", "a.b", root.path()));
    EXPECT_TRUE(Launchd::list(root.path()).empty());
}

} // namespace
