#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Ink {

// The keys the kit acts on, decoded from what a terminal in raw mode sends.
enum class Key {
    tab,
    backTab, // ESC [ Z
    up,
    down,
    left,
    right, // ESC [ A..D, ESC O A..D
    enter, // CR or LF
    space,
    escape,    // a lone ESC
    quit,      // q
    interrupt, // Ctrl-C
    focusIn,   // ESC [ I
    focusOut,  // ESC [ O
};

// Turns the bytes read from the terminal into keys. A sequence split over
// two reads is joined; bytes and sequences the kit has no use for are
// skipped whole, never misread as keys.
class KeyReader {
public:
    std::vector<Key> feed(std::string_view bytes);
    // Whether the last read ended in the middle of a sequence (an ESC
    // alone, maybe): a caller that hears nothing more for a moment calls
    // flush(), which reads a lone ESC as escape.
    bool pending() const { return !partial_.empty(); }
    std::vector<Key> flush();

private:
    std::string partial_;
    // Inside a bracketed paste, until its end marker.
    bool pasting_ = false;
};

} // namespace Ink
