#pragma once

#include <Terminal/ANSI.hpp>

#include <string>
#include <string_view>

// The terminal component kit: how it looks on this terminal, the colours
// and text roles pieces are drawn in, and how outside text and symbols
// become something a terminal shows safely.
namespace Ink {

// What the terminal can show.
struct Look {
    // SGR colours and styles.
    bool color = false;
    // Glyphs for symbols and frames; ASCII stand-ins otherwise.
    bool unicode = true;

    // Colour as Terminal::Palette decides it (FORCE_COLOR, NO_COLOR, TERM,
    // then whether `terminal`); unicode when the locale's character set is
    // UTF-8 (the first of LC_ALL, LC_CTYPE and LANG that is set and not
    // empty names it; none set means ASCII).
    static Look detected(const Terminal::Environment& environment, bool terminal);
    // No colour, glyphs: what golden renders compare against.
    static Look plain() { return Look{false, true}; }
    // No colour, ASCII.
    static Look ascii() { return Look{false, false}; }
};

// Colours pieces ask for; `none` is the terminal's own.
enum class Hue { none, yellow, orange, green, red, accent };

// Text roles, from the largest to the faintest. A terminal has one font
// size: titles are bold (a large title also underlined), captions and the
// secondary and tertiary roles dim.
enum class Role { largeTitle, title, body, caption, secondary, tertiary };

// Outside text (a title, a note, a name, an error) made safe to draw on
// one line: control characters, escape sequences included, become visible
// escapes ("\n", "\t", "\x1B", "\x7F"); ill-formed UTF-8 becomes U+FFFD.
// Nothing the text holds can move the cursor, restyle or break a line.
std::string visible(std::string_view text);

// A symbol by its name ("checkmark", "arrow.up.forward", "gearshape.2",
// "bell", "lock", …) as a glyph, or its ASCII stand-in without unicode.
// An unknown name gets a bullet ("•", "*").
std::string_view glyph(std::string_view symbol, const Look& look);

} // namespace Ink
