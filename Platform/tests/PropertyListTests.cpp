// Property lists of every value type, both forms, and user defaults.

#include <Platform/PropertyList.hpp>
#include <Platform/UserDefaults.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace Platform;

TEST(PropertyList, EveryValueTypeSurvivesBothForms) {
    // Whole seconds: the XML form writes no fraction.
    Date date = std::chrono::system_clock::from_time_t(1767225600);
    PropertyValue value = PropertyDictionary{
        {"flag", true},
        {"number", int64_t{-42}},
        {"real", 2.5},
        {"text", "grüße"},
        {"date", date},
        {"data", PropertyData{std::string("\0\1\2", 3)}},
        {"list", PropertyArray{1, "two", PropertyArray{}}},
        {"nested", PropertyDictionary{{"inner", false}}},
    };
    for (auto format : {PropertyListFormat::xml, PropertyListFormat::binary}) {
        auto back = parsePropertyList(encodePropertyList(value, format));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, value);
    }
    EXPECT_EQ(textValue(value, "text"), "grüße");
    EXPECT_EQ(textValue(value, "flag"), std::nullopt);
    EXPECT_EQ(textValue(PropertyValue(1), "text"), std::nullopt);
}

TEST(PropertyList, DamagedInputReadsAsNothing) {
    for (std::string_view bytes : {"", "<plist><dict><key>a</key>", "bplist00\xff\xff", "not a plist"})
        EXPECT_EQ(parsePropertyList(bytes), std::nullopt) << bytes;
}

class Defaults : public testing::Test {
protected:
    TestSupport::TempDir home;
    TestSupport::ScopedEnvironment environment{{"HOME", home.path().c_str()}};
};

TEST_F(Defaults, KeysAreWrittenReadAndListed) {
    EXPECT_EQ(UserDefaults::read("app.lumra.service", "missing"), std::nullopt);
    Date when = std::chrono::system_clock::from_time_t(1700000000);
    ASSERT_TRUE(UserDefaults::write("app.lumra.service", "AppInstallations.tombstoneApplied", when));
    ASSERT_TRUE(UserDefaults::write("app.lumra.service", "count", 3));
    EXPECT_EQ(UserDefaults::read("app.lumra.service", "AppInstallations.tombstoneApplied"), PropertyValue(when));
    EXPECT_EQ(UserDefaults::keys("app.lumra.service"),
              (std::vector<std::string>{"AppInstallations.tombstoneApplied", "count"}));
    auto file = readPropertyList(home / "Library/Preferences/app.lumra.service.plist");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->as<PropertyDictionary>()->size(), 2u);
    ASSERT_TRUE(UserDefaults::remove("app.lumra.service", "count"));
    EXPECT_EQ(UserDefaults::keys("app.lumra.service"), std::vector<std::string>{"AppInstallations.tombstoneApplied"});

    for (const char* bad : {"", "..", "a/b"}) {
        EXPECT_FALSE(UserDefaults::write(bad, "k", 1)) << bad;
        EXPECT_TRUE(UserDefaults::keys(bad).empty()) << bad;
    }
    TestSupport::writeFile(home / "Library/Preferences/damaged.plist", "garbage");
    EXPECT_TRUE(UserDefaults::keys("damaged").empty());
}

// Writers of different keys never lose each other's.
TEST_F(Defaults, ConcurrentWritersKeepEveryKey) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 10; ++i) UserDefaults::write("shared", std::to_string(t) + "-" + std::to_string(i), i);
        });
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(UserDefaults::keys("shared").size(), 40u);
}

} // namespace
