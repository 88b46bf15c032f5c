#include <Platform/Workspace.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using Platform::URL;
using TestSupport::lines;
using TestSupport::writeFile;

constexpr const char* settingsURL =
    "x-apple.systempreferences:com.apple.Notifications-Settings.extension?id=app.lumra.service.notifier";

TEST(URLParse, AcceptsTheNotificationSettingsPane) {
    auto url = URL::parse(settingsURL);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->text(), settingsURL);
}

TEST(URLParse, AcceptsEveryCharacterAURLMayHold) {
    for (const char* text : {"https://example.org/a/b?c=d&e=f#g", "mailto:someone@example.org", "http://[::1]:8080/",
                             "x:-._~:/?#[]@!$&'()*+,;=", "ABCXYZabcxyz0189", "a"})
        EXPECT_TRUE(URL::parse(text)) << text;
}

TEST(URLParse, AcceptsPercentEscapesOfTwoHexDigits) {
    for (const char* text : {"%41", "a%41", "%41b", "x:%20%2f%2F%ff%FF%00", "%4142"})
        EXPECT_TRUE(URL::parse(text)) << text;
}

TEST(URLParse, RejectsAPercentWithoutTwoHexDigits) {
    for (const char* text : {"%", "a%", "a%4", "%4", "%4G", "%G4", "%%41", "x:%2", "x:%zz", "x:% 41", "x:%-1"})
        EXPECT_FALSE(URL::parse(text)) << text;
}

// The escape must end inside the text given, whatever follows it in memory.
TEST(URLParse, RejectsAnEscapeCutShortByTheEndOfTheText) {
    const std::string longer = "x:%41";
    EXPECT_FALSE(URL::parse(std::string_view(longer).substr(0, 4)));
    EXPECT_FALSE(URL::parse(std::string_view(longer).substr(0, 3)));
    EXPECT_TRUE(URL::parse(std::string_view(longer)));
}

TEST(URLParse, RejectsCharactersAURLCannotHold) {
    for (std::string text : {"", " ", "x:a b", "x:a\tb", "x:a\nb", "x:<b>", "x:\"b\"", "x:a{b}", "x:a|b", "x:a\\b",
                             "x:a^b", "x:a`b", "x:caf\xc3\xa9", "x:\x80", "x:\xff", "\x7f"})
        EXPECT_FALSE(URL::parse(text)) << text;
    EXPECT_FALSE(URL::parse(std::string("x:a\0b", 5)));
}

TEST(SimulatedWorkspace, EachOpenedURLBecomesOneLine) {
    TestSupport::TempDir root;
    writeFile(root / "opened-urls.log", "x:earlier\n");
    auto workspace = Platform::makeSimulatedWorkspace(root.path());

    workspace->open(*URL::parse(settingsURL));
    workspace->open(*URL::parse("https://example.org/a%20b"));
    workspace->open(*URL::parse(settingsURL));

    EXPECT_EQ(lines(root / "opened-urls.log"),
              (std::vector<std::string>{"x:earlier", settingsURL, "https://example.org/a%20b", settingsURL}));
}

} // namespace
