#include <Ink/Keys.hpp>

#include <gtest/gtest.h>

namespace {

using Ink::Key;
using Ink::KeyReader;
using Keys = std::vector<Key>;

TEST(KeyReader, DecodesWhatATerminalSends) {
    struct Case {
        const char* what;
        std::vector<std::string> reads;
        Keys keys;
        bool pending = false;
    };
    for (const Case& c : std::vector<Case>{
             {"plain keys",
              {"\t\r\n q\x03"},
              {Key::tab, Key::enter, Key::enter, Key::space, Key::quit, Key::interrupt}},
             {"CSI arrows", {"\x1B[A\x1B[B\x1B[C\x1B[D"}, {Key::up, Key::down, Key::right, Key::left}},
             {"SS3 arrows", {"\x1BOA\x1BOD"}, {Key::up, Key::left}},
             {"Shift-Tab", {"\x1B[Z"}, {Key::backTab}},
             {"focus reports", {"\x1B[I\x1B[O"}, {Key::focusIn, Key::focusOut}},
             {"letters and bytes without a use", {"axQ\x7F\x01\xC3\xA9"}, {}},
             {"a sequence split over reads", {"\x1B", "[", "A"}, {Key::up}},
             {"split after the parameters", {"\x1B[1", ";5", "Bq"}, {Key::quit}},
             {"modified arrows are skipped whole", {"\x1B[1;5A\x1B[1;2Z"}, {}},
             {"unknown CSI skipped whole", {"\x1B[200;3;4xq\x1B[?25h"}, {Key::quit}},
             {"function keys skipped", {"\x1B[15~\x1BOP\x1B[3~"}, {}},
             {"SGR mouse report skipped", {"\x1B[<0;12;5M\x1B[<0;12;5m\t"}, {Key::tab}},
             {"old mouse report with key-like bytes skipped", {"\x1B[M q\x1B"}, {}},
             {"old mouse report split", {"\x1B[M", " q", "q "}, {Key::space}},
             {"bracketed paste is not typing", {"\x1B[200~q\tq\r\x1B[201~\t"}, {Key::tab}},
             {"paste over reads", {"\x1B[200~qq", "q\x1B[2", "01~q"}, {Key::quit}},
             {"OSC answer skipped", {"\x1B]11;rgb:0000/0000/0000\x07q"}, {Key::quit}},
             {"OSC ended by ST, split", {"\x1B]52;c;abc", "\x1B", "\\ "}, {Key::space}},
             {"Alt-letter skipped", {"\x1Bq\x1Bx"}, {}},
             {"ESC ESC: the first is escape", {"\x1B\x1B[A"}, {Key::escape, Key::up}},
             {"a lone ESC waits", {"\x1B"}, {}, true},
             {"ESC [ waits", {"\x1B["}, {}, true},
         }) {
        KeyReader reader;
        Keys keys;
        for (const std::string& read : c.reads)
            for (Key key : reader.feed(read)) keys.push_back(key);
        EXPECT_EQ(keys, c.keys) << c.what;
        EXPECT_EQ(reader.pending(), c.pending) << c.what;
    }
}

TEST(KeyReader, FlushReadsALoneEscapeOnly) {
    KeyReader reader;
    EXPECT_EQ(reader.feed("\x1B"), Keys{});
    EXPECT_EQ(reader.flush(), Keys{Key::escape});
    EXPECT_FALSE(reader.pending());
    // A half sequence is dropped, never misread.
    EXPECT_EQ(reader.feed("\x1B["), Keys{});
    EXPECT_EQ(reader.flush(), Keys{});
    EXPECT_EQ(reader.feed("A"), Keys{});
    EXPECT_EQ(reader.flush(), Keys{});
}

TEST(KeyReader, AnEndlessSequenceIsDropped) {
    KeyReader reader;
    EXPECT_EQ(reader.feed("\x1B[" + std::string(100, '1')), Keys{});
    EXPECT_FALSE(reader.pending());
    EXPECT_EQ(reader.feed("\t"), Keys{Key::tab});
}

} // namespace
