#pragma once

#include <Terminal/ANSI.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Terminal {

using Row = std::vector<std::string>;

// Columns aligned by display width (SGR sequences in cells do not count).
// `align[i] == 'r'` right-aligns column i; every other column is
// left-aligned. Columns are separated by `gap` spaces and every line starts
// with `indent` spaces; trailing white space is trimmed from each line and no
// line feed follows the last one. With `palette.enabled` the head cells are
// bold. Negative counts act as 0.
std::string table(const std::vector<Row>& rows, const std::optional<Row>& head = std::nullopt,
                  std::string_view align = {}, int gap = 2, int indent = 0, const Palette& palette = ui());

// One line per pair: `indent` spaces, the key padded to the widest key (dimmed
// with its padding when `palette.enabled`), `gap` spaces, the value. Trailing
// white space is kept.
std::string kv(const std::vector<std::pair<std::string, std::string>>& pairs, int indent = 0, int gap = 2,
               const Palette& palette = ui());

// The title after `indent` spaces, then each child on its own line two spaces
// further in.
std::string tree(std::string_view title, const std::vector<std::string>& children, int indent = 0);

// Every line of the text, empty ones and an empty last line after a final
// line feed included, with `n` spaces in front.
std::string indent(std::string_view text, int n);

} // namespace Terminal
