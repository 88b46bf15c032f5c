#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes that come from outside (child output, the process table) and are
// meant to be text.
namespace Platform::UTF8 {

// True when `bytes` is well-formed UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool isValid(std::string_view bytes);

// The code point of the well-formed sequence starting at `at` (which must be
// inside `bytes`), moving `at` past it; -1 for a byte that starts none,
// moving `at` past that one byte, so callers can keep or escape it as it is.
int32_t nextCodePoint(std::string_view bytes, size_t& at);

// `bytes` with every ill-formed sequence replaced by U+FFFD, one per maximal
// ill-formed subpart, the way the platform's decoders do it.
std::string repaired(std::string_view bytes);

// `text` without white space and line breaks (Unicode's White_Space, not only
// ASCII's) at either end. Bytes that are not UTF-8 are never taken for white
// space (a stray 0xA0 is no no-break space).
std::string trimmingWhitespace(std::string_view text);

// Full Unicode lower case (root locale, so never the user's language);
// bytes that are not UTF-8 are kept as they are.
std::string lowercased(std::string_view text);

} // namespace Platform::UTF8
