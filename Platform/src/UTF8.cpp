#include "Platform/UTF8.hpp"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>

#include <array>
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

// Unicode white space and line breaks beyond ASCII's, as UTF-8.
constexpr std::array<std::string_view, 19> wideSpaces{
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

size_t spaceAtStart(std::string_view text) {
    if (text.empty()) return 0;
    char c = text.front();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
    for (auto space : wideSpaces)
        if (text.starts_with(space)) return space.size();
    return 0;
}

size_t spaceAtEnd(std::string_view text) {
    if (text.empty()) return 0;
    char c = text.back();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
    for (auto space : wideSpaces)
        if (text.ends_with(space)) return space.size();
    return 0;
}

} // namespace

int32_t nextCodePoint(std::string_view bytes, size_t& at) {
    size_t subpart = 0;
    size_t length = sequenceAt(bytes, at, subpart);
    if (length == 0) {
        ++at;
        return -1;
    }
    constexpr uint8_t leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    int32_t code = static_cast<uint8_t>(bytes[at]) & leadBits[length];
    for (size_t i = 1; i < length; ++i) code = (code << 6) | (static_cast<uint8_t>(bytes[at + i]) & 0x3F);
    at += length;
    return code;
}

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

std::string trimmingWhitespace(std::string_view text) {
    while (size_t length = spaceAtStart(text)) text.remove_prefix(length);
    while (size_t length = spaceAtEnd(text)) text.remove_suffix(length);
    return std::string(text);
}

std::string lowercased(std::string_view text) {
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    std::string result;
    if (ascii || text.size() > static_cast<size_t>(INT32_MAX)) {
        result.assign(text);
        for (char& c : result)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return result;
    }
    // The root locale, so that the answer never depends on the user's
    // language; ICU passes ill-formed bytes through unchanged.
    icu::StringByteSink<std::string> sink(&result, static_cast<int32_t>(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink, nullptr,
                              status);
    if (U_FAILURE(status)) return std::string(text);
    return result;
}

} // namespace Platform::UTF8
