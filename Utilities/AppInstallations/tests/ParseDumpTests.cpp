// Reading the Launch Services dump: blocks, their paths and identifiers.

#include <AppInstallations/Records.hpp>

#include <gtest/gtest.h>

namespace {

using AppInstallation::parseDump;
using AppInstallation::Record;

const std::string dashes(80, '-');

TEST(ParseDump, BlocksPathsAndIdentifiers) {
    struct Case {
        std::string name, dump;
        std::vector<Record> expected;
    };
    const Case cases[] = {
        {"nothing", "", {}},
        {"the number after the path is dropped",
         dashes + "\npath:      /Applications/A.app (0x1f4)\nidentifier:   app.a\n" + dashes + "\n",
         {{"/Applications/A.app", "app.a"}}},
        {"the first identifier counts",
         dashes + "\npath: /A.app (0x1)\nidentifier: app.a\nclaim id: doc (0x11)\nidentifier: public.data\n" + dashes,
         {{"/A.app", "app.a"}}},
        {"the last block needs no closing line",
         "Checking data integrity......done.\n" + dashes + "\npath: /A.app (0x1)\nidentifier: app.a\n" + dashes +
             "\npath: /B.app (0x2)\nidentifier: app.b\n",
         {{"/A.app", "app.a"}, {"/B.app", "app.b"}}},
        {"the last block without a final line break",
         dashes + "\npath: /A.app (0x1)\nidentifier: app.a",
         {{"/A.app", "app.a"}}},
        {"a block without a path or an identifier adds nothing",
         dashes + "\nidentifier: app.a\n" + dashes + "\npath: /B.app (0x2)\n" + dashes +
             "\npath: /C.app (0x3)\nidentifier: app.c\n",
         {{"/C.app", "app.c"}}},
        {"only the last \" (0x\" is cut, spaces and tabs trimmed",
         "path:\t /Volumes/X (0x9) copy/A (0x2).app (0xabc) \t\n\tidentifier: ignored\nidentifier:\tapp.a \n",
         {{"/Volumes/X (0x9) copy/A (0x2).app", "app.a"}}},
        {"a later path line in a block replaces the first",
         dashes + "\npath: /Old.app (0x1)\nidentifier: app.a\npath: /New.app (0x1)\n",
         {{"/New.app", "app.a"}}},
        {"a path without a number is taken whole", "path: /Plain.app\nidentifier: app.p\n", {{"/Plain.app", "app.p"}}},
        {"identifiers do not leak from one block into the next",
         dashes + "\nidentifier: app.a\n" + dashes + "\npath: /B.app (0x2)\n" + dashes,
         {}},
        {"empty lines are lines like others",
         dashes + "\n\npath: /A.app (0x1)\n\nidentifier: app.a\n\n" + dashes + "\n\n",
         {{"/A.app", "app.a"}}},
        {"keys must begin the line", "  path: /A.app (0x1)\n identifier: app.a\n", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(parseDump(c.dump), c.expected) << c.name;
}

} // namespace
