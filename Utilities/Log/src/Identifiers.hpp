#pragma once

#include <cstddef>

namespace Log::detail {

// Writes `bytes` random bytes as 2 * `bytes` lowercase hex digits to `hex`
// (no terminator), drawing again while they are all zero.
void fillID(char* hex, std::size_t bytes);

} // namespace Log::detail
