// Signing bundles and checking them: what a seal notices and what
// requirements accept.

#include <Platform/CodeSigning.hpp>
#include <Platform/PropertyList.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
namespace CodeSigning = Platform::CodeSigning;
using Platform::PropertyDictionary;

const std::string developer = "Developer ID Application: Example Maker (AB12CD34EF)";

void makeBundle(const fs::path& bundle, const std::string& identifier, const std::string& executable) {
    PropertyDictionary info{{"CFBundleIdentifier", identifier}, {"CFBundleExecutable", executable}};
    TestSupport::writeFile(bundle / "Contents/Info.plist",
                           Platform::encodePropertyList(info, Platform::PropertyListFormat::binary));
    TestSupport::writeFile(bundle / "Contents/MacOS" / executable, "program " + identifier);
}

class Signing : public testing::Test {
protected:
    void SetUp() override {
        makeBundle(app, "test.main", "Main");
        makeBundle(inner, "test.main.helper", "Helper");
        TestSupport::writeFile(app / "Contents/Resources/text.txt", "hello");
        fs::create_symlink("../Resources/text.txt", app / "Contents/MacOS/link");
    }
    std::optional<std::string> sign(CodeSigning::Identity identity = {developer}) {
        return CodeSigning::sign(app, {identity, std::nullopt, true, {{"com.example.entitled", true}}});
    }
    std::optional<std::string> verify() { return CodeSigning::validate(app, std::nullopt); }

    TestSupport::TempDir folder;
    fs::path app = folder / "Main.app";
    fs::path inner = app / "Contents/Helpers/Helper.app";
};

TEST_F(Signing, ABundleSignedWholeIsValidAndSaysWhoSignedIt) {
    EXPECT_EQ(verify(), "code object is not signed at all");
    ASSERT_EQ(sign(), std::nullopt);
    EXPECT_EQ(verify(), std::nullopt);
    EXPECT_EQ(CodeSigning::validate(inner, std::nullopt), std::nullopt);

    auto info = CodeSigning::signingInformation(app / "Contents/MacOS/Main");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->identifier, "test.main");
    EXPECT_EQ(info->team, "AB12CD34EF");
    EXPECT_FALSE(info->adhoc);
    EXPECT_EQ(info->flags, CodeSigning::runtimeFlag);
    EXPECT_EQ(info->certificates.front(), developer);
    EXPECT_EQ(info->certificates.size(), 3u);
    EXPECT_EQ(info->entitlements, nlohmann::json({{"com.example.entitled", true}}));
    EXPECT_EQ(CodeSigning::signingInformation(inner)->identifier, "test.main.helper");
    EXPECT_EQ(CodeSigning::signingInformation(folder / "elsewhere"), std::nullopt);
}

// Every change names the first file that breaks the seal.
TEST_F(Signing, EveryChangeNamesItsFile) {
    struct Case {
        std::string name;
        std::function<void()> change;
        std::string problem;
    };
    const Case cases[] = {
        {"one byte", [&] { TestSupport::writeFile(app / "Contents/Resources/text.txt", "hellp"); },
         "file modified: Contents/Resources/text.txt"},
        {"nested byte", [&] { TestSupport::writeFile(inner / "Contents/MacOS/Helper", "program X"); },
         "file modified: Contents/Helpers/Helper.app/Contents/MacOS/Helper"},
        {"added", [&] { TestSupport::writeFile(app / "Contents/Resources/new.txt", ""); },
         "file added: Contents/Resources/new.txt"},
        {"missing", [&] { fs::remove(app / "Contents/Info.plist"); }, "file missing: Contents/Info.plist"},
        {"link",
         [&] {
             fs::remove(app / "Contents/MacOS/link");
             fs::create_symlink("/etc/passwd", app / "Contents/MacOS/link");
         },
         "file modified: Contents/MacOS/link"},
        {"nested re-signed", [&] { CodeSigning::sign(inner, CodeSigning::SigningOptions{}); },
         "file modified: Contents/Helpers/Helper.app"},
        {"damaged", [&] { TestSupport::writeFile(app / "Contents/_CodeSignature/signature.json", "{"); },
         "the signature is damaged"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(sign(), std::nullopt) << c.name;
        c.change();
        EXPECT_EQ(verify(), c.problem) << c.name;
        makeBundle(app, "test.main", "Main");
        makeBundle(inner, "test.main.helper", "Helper");
        TestSupport::writeFile(app / "Contents/Resources/text.txt", "hello");
        fs::remove(app / "Contents/Resources/new.txt");
        fs::remove(app / "Contents/MacOS/link");
        fs::create_symlink("../Resources/text.txt", app / "Contents/MacOS/link");
    }
}

TEST_F(Signing, RequirementsAreIdentifierAndTeamOrAnAdHocHash) {
    ASSERT_EQ(sign(), std::nullopt);
    fs::path main = app / "Contents/MacOS/Main";
    auto requirement = CodeSigning::designatedRequirement(main);
    ASSERT_TRUE(requirement);
    EXPECT_EQ(*requirement, (CodeSigning::Requirement{"test.main", "AB12CD34EF", std::nullopt}));
    EXPECT_EQ(requirement->text(),
              R"(identifier "test.main" and anchor apple generic and certificate leaf[subject.OU] = "AB12CD34EF")");
    EXPECT_EQ(CodeSigning::validate(main, requirement, false), std::nullopt);
    EXPECT_EQ(CodeSigning::validate(main, CodeSigning::Requirement{"test.other", "AB12CD34EF", {}}),
              "does not satisfy its requirement");

    // Re-signed by the same team after a change: still the same program.
    TestSupport::writeFile(main, "program 2");
    EXPECT_EQ(CodeSigning::validate(main, requirement, false), "file modified: Contents/MacOS/Main");
    ASSERT_EQ(sign(), std::nullopt);
    EXPECT_EQ(CodeSigning::validate(main, requirement, false), std::nullopt);

    // Ad hoc: only the exact hash is the same program; another team never is.
    ASSERT_EQ(sign(CodeSigning::Identity::adhoc()), std::nullopt);
    EXPECT_EQ(CodeSigning::validate(main, requirement), "does not satisfy its requirement");
    auto adhoc = CodeSigning::designatedRequirement(main);
    ASSERT_TRUE(adhoc && adhoc->cdhash && !adhoc->team);
    EXPECT_TRUE(CodeSigning::signingInformation(main)->certificates.empty());
    TestSupport::writeFile(main, "program 3");
    ASSERT_EQ(sign(CodeSigning::Identity::adhoc()), std::nullopt);
    EXPECT_EQ(CodeSigning::validate(main, adhoc), "does not satisfy its requirement");
}

TEST_F(Signing, RefusesWhatIsNoBundle) {
    EXPECT_EQ(CodeSigning::sign(folder / "None.app", {}),
              (folder / "None.app").string() + ": not a bundle (no readable Contents/Info.plist)");
    TestSupport::writeFile(folder / "Bare.app/Contents/Info.plist",
                           Platform::encodePropertyList(PropertyDictionary{}, Platform::PropertyListFormat::xml));
    EXPECT_EQ(CodeSigning::sign(folder / "Bare.app", {}),
              (folder / "Bare.app").string() + ": the bundle has no CFBundleIdentifier");
}

TEST(TeamOf, TheTrailingGroupOfCapitalsAndDigits) {
    EXPECT_EQ(CodeSigning::teamOf(developer), "AB12CD34EF");
    EXPECT_EQ(CodeSigning::teamOf("Name (lower)"), std::nullopt);
    EXPECT_EQ(CodeSigning::teamOf("Name"), std::nullopt);
}

} // namespace
