#pragma once

// Grapheme clusters and SGR recognition shared by the width and clipping
// code. Internal to the module.

#include <cstddef>
#include <string_view>
#include <vector>

namespace Terminal::detail {

// Length of the SGR sequence (ESC "[" [0-9;]* "m") that starts at `pos`, or 0.
std::size_t sgrLength(std::string_view text, std::size_t pos);

// Length of the longest prefix made of printable ASCII (0x20...0x7E) only.
std::size_t printablePrefix(std::string_view text);

struct Cluster {
    std::size_t start;
    std::size_t end;
    unsigned columns;
};

// The extended grapheme clusters of `text`, which holds no SGR sequences,
// each with its width.
std::vector<Cluster> clusters(std::string_view text);

// The summed width of those clusters; `printable` bytes at the start are
// known to be printable ASCII.
std::size_t measure(std::string_view text, std::size_t printable);

} // namespace Terminal::detail
