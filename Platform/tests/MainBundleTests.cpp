#include <Platform/MainBundle.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Platform::Bundle;
using Platform::readBundleIdentifier;
using TestSupport::TempDir;
using TestSupport::writeFile;

std::string xmlPlist(const std::string& dictBody) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           dictBody + "</dict>\n</plist>\n";
}

std::string xmlInfoPlist(const std::string& identifier) {
    return xmlPlist("\t<key>CFBundleExecutable</key>\n\t<string>lumra-notifier</string>\n"
                    "\t<key>CFBundleIdentifier</key>\n\t<string>" +
                    identifier + "</string>\n\t<key>LSUIElement</key>\n\t<true/>\n");
}

// A binary property list (bplist00) holding one dictionary of ASCII strings,
// laid out by hand: objects, then the offset table, then the trailer.
std::string binaryPlist(const std::vector<std::pair<std::string, std::string>>& entries) {
    auto asciiString = [](const std::string& text) {
        std::string object;
        if (text.size() < 15) {
            object += static_cast<char>(0x50 | text.size());
        } else {
            object += '\x5F';
            object += '\x10'; // a one-byte integer holds the length
            object += static_cast<char>(text.size());
        }
        return object + text;
    };
    auto bigEndian = [](uint64_t value, int width) {
        std::string bytes;
        for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
        return bytes;
    };

    const size_t count = entries.size();
    std::vector<std::string> objects;
    std::string dict(1, static_cast<char>(0xD0 | count));
    for (size_t i = 0; i < count; ++i) dict += static_cast<char>(1 + i);
    for (size_t i = 0; i < count; ++i) dict += static_cast<char>(1 + count + i);
    objects.push_back(dict);
    for (const auto& entry : entries) objects.push_back(asciiString(entry.first));
    for (const auto& entry : entries) objects.push_back(asciiString(entry.second));

    std::string data = "bplist00";
    std::vector<uint64_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(data.size());
        data += object;
    }
    uint64_t tableOffset = data.size();
    for (uint64_t offset : offsets) data += bigEndian(offset, 2);
    data += std::string(6, '\0');
    data += '\x02'; // offset size
    data += '\x01'; // object reference size
    data += bigEndian(objects.size(), 8);
    data += bigEndian(0, 8); // top object
    data += bigEndian(tableOffset, 8);
    return data;
}

// An app bundle at `folder`/Lumra.app whose Info.plist holds `infoPlist`;
// returns the path of its executable.
std::filesystem::path makeBundle(const std::filesystem::path& folder, const std::optional<std::string>& infoPlist) {
    auto app = folder / "Lumra.app";
    writeFile(app / "Contents/MacOS/lumra-notifier", "");
    if (infoPlist) writeFile(app / "Contents/Info.plist", *infoPlist);
    return app / "Contents/MacOS/lumra-notifier";
}

// --- Bundle::containing

TEST(BundleContaining, ReadsTheIdentifierOfAnXMLInfoPlist) {
    TempDir folder;
    auto bundle = Bundle::containing(makeBundle(folder.path(), xmlInfoPlist("app.lumra.service.notifier")));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->path, folder / "Lumra.app");
    EXPECT_EQ(bundle->identifier, "app.lumra.service.notifier");
}

TEST(BundleContaining, ReadsTheIdentifierOfABinaryInfoPlist) {
    TempDir folder;
    auto plist = binaryPlist({{"CFBundleExecutable", "lumra-notifier"}, {"CFBundleIdentifier", "app.lumra.service"}});
    auto bundle = Bundle::containing(makeBundle(folder.path(), plist));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->path, folder / "Lumra.app");
    EXPECT_EQ(bundle->identifier, "app.lumra.service");
}

TEST(BundleContaining, MissingInfoPlistIsABundleWithoutIdentifier) {
    TempDir folder;
    auto bundle = Bundle::containing(makeBundle(folder.path(), std::nullopt));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->path, folder / "Lumra.app");
    EXPECT_EQ(bundle->identifier, std::nullopt);
}

TEST(BundleContaining, InfoPlistWithoutAStringIdentifierGivesNone) {
    TempDir folder;
    for (const std::string& plist :
         {xmlPlist("\t<key>CFBundleExecutable</key>\n\t<string>lumra-notifier</string>\n"),
          xmlPlist("\t<key>CFBundleIdentifier</key>\n\t<integer>7</integer>\n"),
          xmlPlist("\t<key>CFBundleIdentifier</key>\n\t<true/>\n"),
          xmlPlist("\t<key>CFBundleIdentifier</key>\n\t<array><string>app.lumra.service</string></array>\n"),
          xmlPlist("\t<key>CFBundleIdentifier</key>\n\t<string></string>\n"),
          xmlPlist("\t<key>cfbundleidentifier</key>\n\t<string>app.lumra.service</string>\n"),
          binaryPlist({{"CFBundleName", "Lumra"}})}) {
        auto bundle = Bundle::containing(makeBundle(folder.path(), plist));
        ASSERT_TRUE(bundle) << plist;
        EXPECT_EQ(bundle->identifier, std::nullopt) << plist;
    }
}

TEST(BundleContaining, DamagedInfoPlistGivesNoIdentifier) {
    TempDir folder;
    std::string xml = xmlInfoPlist("app.lumra.service");
    std::string binary = binaryPlist({{"CFBundleIdentifier", "app.lumra.service"}});
    for (const std::string& plist :
         {std::string(), xml.substr(0, xml.size() / 2), std::string("not a property list"),
          binary.substr(0, binary.size() - 10), std::string("bplist00") + std::string(40, '\xff'),
          std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>app.lumra.service</string>"
                      "</array></plist>"),
          std::string("\0\0\0\0", 4)}) {
        auto bundle = Bundle::containing(makeBundle(folder.path(), plist));
        ASSERT_TRUE(bundle);
        EXPECT_EQ(bundle->identifier, std::nullopt) << plist;
    }
}

TEST(BundleContaining, ExecutableOutsideTheBundleLayoutHasNoBundle) {
    TempDir folder;
    writeFile(folder / "Lumra.app/Contents/Info.plist", xmlInfoPlist("app.lumra.service"));
    writeFile(folder / "Lumra/Contents/Info.plist", xmlInfoPlist("app.lumra.service"));
    for (const char* executable : {"Lumra.app/Contents/lumra-notifier", "Lumra.app/MacOS/lumra-notifier",
                                   "Lumra.app/lumra-notifier", "Lumra.app/Contents/MacOS/bin/lumra-notifier",
                                   "Lumra.app/contents/MacOS/lumra-notifier", "Lumra.app/Contents/macos/lumra-notifier",
                                   "Lumra/Contents/MacOS/lumra-notifier", "Lumra.appx/Contents/MacOS/lumra-notifier",
                                   "Lumra.app.zip/Contents/MacOS/lumra-notifier", "build/lumra-notifier"})
        EXPECT_EQ(Bundle::containing(folder / executable), std::nullopt) << executable;
    EXPECT_EQ(Bundle::containing("lumra-notifier"), std::nullopt);
    EXPECT_EQ(Bundle::containing("/lumra-notifier"), std::nullopt);
}

TEST(BundleContaining, ANestedHelperBelongsToTheInnerBundle) {
    TempDir folder;
    auto helper = folder / "Lumra.app/Contents/Library/Helper.app";
    writeFile(folder / "Lumra.app/Contents/Info.plist", xmlInfoPlist("app.lumra.service"));
    writeFile(helper / "Contents/Info.plist", xmlInfoPlist("app.lumra.service.helper"));
    auto bundle = Bundle::containing(helper / "Contents/MacOS/helper");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->path, helper);
    EXPECT_EQ(bundle->identifier, "app.lumra.service.helper");
}

// --- readBundleIdentifier

TEST(ReadBundleIdentifier, ReadsXMLAndBinaryForms) {
    TempDir folder;
    writeFile(folder / "xml.plist", xmlInfoPlist("app.lumra.service"));
    writeFile(folder / "binary.plist", binaryPlist({{"CFBundleIdentifier", "app.lumra.service.notifier"}}));
    EXPECT_EQ(readBundleIdentifier(folder / "xml.plist"), "app.lumra.service");
    EXPECT_EQ(readBundleIdentifier(folder / "binary.plist"), "app.lumra.service.notifier");
}

TEST(ReadBundleIdentifier, MissingFileOrFolderGivesNone) {
    TempDir folder;
    EXPECT_EQ(readBundleIdentifier(folder / "Info.plist"), std::nullopt);
    EXPECT_EQ(readBundleIdentifier(folder.path()), std::nullopt);
}

TEST(ReadBundleIdentifier, KeepsNonASCIIText) {
    TempDir folder;
    writeFile(folder / "Info.plist", xmlInfoPlist("app.lumra.caf\xc3\xa9"));
    EXPECT_EQ(readBundleIdentifier(folder / "Info.plist"), "app.lumra.caf\xc3\xa9");
}

} // namespace
