#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Terminal {

// Display width in terminal columns of UTF-8 text, SGR sequences ignored.
// Each extended grapheme cluster counts 2 when its first scalar is East Asian
// wide or any of its scalars has emoji presentation (U+FE0F included), and 1
// otherwise, control characters included. An ill-formed byte sequence reads
// as one U+FFFD, one column; it never stops the measure.
std::size_t width(std::string_view text);

// The text with spaces in front of it (padStart) or after it (padEnd) up to
// `n` columns; a text already that wide or wider comes back unchanged.
std::string padStart(std::string_view text, int n);
std::string padEnd(std::string_view text, int n);

// The text cut to at most `max` visible columns, the last of them `mark` (one
// column wide), when it is wider than that; unchanged otherwise. SGR
// sequences before the cut are kept and a styled result ends with
// ANSI::reset, so no style leaks past it. Characters are never split; kept
// bytes are copied as they were.
std::string clip(std::string_view text, int max, std::string_view mark = "\u2026");

// Outside text (a name, a note, an error) made safe to print within a line:
// C0 controls and DEL become visible escapes ("\n", "\t", "\r", "\x1B",
// "\x7F"), C1 controls, line and paragraph separators and bidirectional
// overrides become "\u009B", "\u2028", "\u202E"; every ill-formed UTF-8
// sequence becomes one U+FFFD. Nothing the text holds can move the cursor,
// restyle the terminal, reorder what follows or break the line.
std::string printable(std::string_view text);

} // namespace Terminal
