#include "Platform/UTF8.hpp"

#include <cstdint>

namespace Platform::UTF8 {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// The length of the well-formed sequence at `at`, or 0 when the sequence
// there is ill-formed. `subpart` is then how many bytes belong to the maximal
// ill-formed subpart (at least 1), the unit that one U+FFFD replaces.
size_t sequenceAt(std::string_view bytes, size_t at, size_t& subpart) {
    auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    uint8_t lead = byte(at);
    subpart = 1;
    if (lead < 0x80) return 1;

    size_t length;
    uint8_t low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // overlong
        if (lead == 0xED) high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;  // overlong
        if (lead == 0xF4) high = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }

    for (size_t i = 1; i < length; ++i) {
        if (at + i >= bytes.size()) return 0;
        uint8_t next = byte(at + i);
        uint8_t min = i == 1 ? low : 0x80, max = i == 1 ? high : 0xBF;
        if (next < min || next > max) return 0;
        subpart = i + 1;
    }
    return length;
}

} // namespace

bool isValid(std::string_view bytes) {
    size_t subpart = 0;
    for (size_t at = 0; at < bytes.size();) {
        // Plain ASCII dominates tool output; skip it a byte at a time cheaply.
        if (static_cast<uint8_t>(bytes[at]) < 0x80) {
            ++at;
            continue;
        }
        size_t length = sequenceAt(bytes, at, subpart);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string repaired(std::string_view bytes) {
    if (isValid(bytes)) return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() + 8);
    size_t subpart = 0;
    for (size_t at = 0; at < bytes.size();) {
        size_t length = sequenceAt(bytes, at, subpart);
        if (length == 0) {
            text += replacement;
            at += subpart;
        } else {
            text.append(bytes.substr(at, length));
            at += length;
        }
    }
    return text;
}

} // namespace Platform::UTF8
