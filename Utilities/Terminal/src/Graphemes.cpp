#include "Graphemes.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace Terminal::detail {

namespace {

struct Range {
    UChar32 from;
    UChar32 to;
};

// East Asian wide blocks, closed ranges in ascending order.
constexpr std::array<Range, 13> wideRanges{{
    {0x1100, 0x115F},
    {0x2E80, 0x303E},
    {0x3041, 0x33FF},
    {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF},
    {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F},
    {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},
    {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
}};

constexpr UChar32 emojiSelector = 0xFE0F;
// No scalar below this one has Emoji_Presentation; skipping the property
// lookup for them keeps Latin, Cyrillic and friends cheap.
constexpr UChar32 firstEmojiPresentation = 0x231A;

bool wide(UChar32 c) {
    if (c < wideRanges.front().from) return false;
    return std::any_of(wideRanges.begin(), wideRanges.end(),
                       [c](const Range& range) { return c >= range.from && c <= range.to; });
}

bool emojiPresentation(UChar32 c) {
    if (c == emojiSelector) return true;
    return c >= firstEmojiPresentation && u_hasBinaryProperty(c, UCHAR_EMOJI_PRESENTATION);
}

// An ill-formed sequence is read as one replacement character, as the break
// iterator reads it.
UChar32 next(const char* bytes, int32_t& i, int32_t length) {
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    return c < 0 ? 0xFFFD : c;
}

unsigned clusterWidth(const char* bytes, int32_t length) {
    int32_t i = 0;
    UChar32 c = next(bytes, i, length);
    if (wide(c)) return 2;
    for (;;) {
        if (emojiPresentation(c)) return 2;
        if (i >= length) return 1;
        c = next(bytes, i, length);
    }
}

[[noreturn]] void unusable(const char* what, UErrorCode status) {
    std::fprintf(stderr, "Terminal: %s failed: %s\n", what, u_errorName(status));
    std::abort();
}

// Making a character break iterator loads rules and costs microseconds; each
// thread keeps one for all its measures.
icu::BreakIterator& characterBreaks() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !made) unusable("creating the character break iterator", status);
        return made;
    }();
    return *iterator;
}

// ICU indexes text with 32-bit integers; longer text is walked in pieces cut
// before a lead byte, so a cluster can at worst split at a seam.
constexpr std::size_t longestPiece = std::numeric_limits<int32_t>::max();

// Segments with ICU's break iterator. `text` must start at a cluster
// boundary whose left neighbour cannot join anything after it.
template <class Visit>
void segmentWithICU(std::string_view text, std::size_t offset, Visit& visit) {
    icu::BreakIterator& breaks = characterBreaks();
    std::size_t base = 0;
    while (base < text.size()) {
        std::size_t length = std::min(text.size() - base, longestPiece);
        for (int back = 0; back < 3 && base + length < text.size() && length > 1 &&
                           (static_cast<unsigned char>(text[base + length]) & 0xC0) == 0x80;
             ++back)
            --length;
        const char* bytes = text.data() + base;

        UErrorCode status = U_ZERO_ERROR;
        UText piece = UTEXT_INITIALIZER;
        utext_openUTF8(&piece, bytes, static_cast<int64_t>(length), &status);
        breaks.setText(&piece, status);
        if (U_FAILURE(status)) unusable("reading UTF-8 text", status);
        // Native indices of a UTF-8 text are byte offsets.
        int32_t start = breaks.first();
        for (int32_t end = breaks.next(); end != icu::BreakIterator::DONE; start = end, end = breaks.next()) {
            visit(offset + base + static_cast<std::size_t>(start), offset + base + static_cast<std::size_t>(end),
                  end - start == 1 ? 1u : clusterWidth(bytes + start, end - start));
        }
        utext_close(&piece);
        base += length;
    }
}

struct Scalar {
    UChar32 value;
    std::size_t length;
    int breakClass;
};

int breakClassOf(UChar32 c) {
    if (c < 0x80) {
        if (c == '\r') return U_GCB_CR;
        if (c == '\n') return U_GCB_LF;
        return c < 0x20 || c == 0x7F ? U_GCB_CONTROL : U_GCB_OTHER;
    }
    return u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK);
}

Scalar scalarAt(std::string_view text, std::size_t pos) {
    int32_t length = static_cast<int32_t>(std::min<std::size_t>(text.size() - pos, 4));
    int32_t i = 0;
    UChar32 c = next(text.data() + pos, i, length);
    return Scalar{c, static_cast<std::size_t>(i), breakClassOf(c)};
}

bool plain(int breakClass) {
    switch (breakClass) {
    case U_GCB_OTHER:
    case U_GCB_L:
    case U_GCB_V:
    case U_GCB_T:
    case U_GCB_LV:
    case U_GCB_LVT: return true;
    default: return false;
    }
}

// Conjoining Hangul: L x (L | V | LV | LVT), (LV | V) x (V | T), (LVT | T) x T.
bool hangulJoins(int before, int after) {
    switch (before) {
    case U_GCB_L: return after == U_GCB_L || after == U_GCB_V || after == U_GCB_LV || after == U_GCB_LVT;
    case U_GCB_LV:
    case U_GCB_V: return after == U_GCB_V || after == U_GCB_T;
    case U_GCB_LVT:
    case U_GCB_T: return after == U_GCB_T;
    default: return false;
    }
}

// True when the grapheme rules break between `before` and `after` whatever
// surrounds them: after a control or line feed, before a control unless it
// is CR LF, and between two scalars that neither extend, prepend, join with
// ZWJ nor pair as regional indicators, unless they are conjoining Hangul.
// No rule looks across such a break, so the stretches between them can be
// segmented one by one.
bool certainBreak(const Scalar& before, const Scalar& after) {
    int b = before.breakClass;
    int a = after.breakClass;
    if (b == U_GCB_CONTROL || b == U_GCB_LF) return true;
    if (a == U_GCB_CONTROL || a == U_GCB_CR || a == U_GCB_LF) return b != U_GCB_CR;
    return plain(b) && plain(a) && !hangulJoins(b, a);
}

unsigned scalarWidth(UChar32 c) { return wide(c) || emojiPresentation(c) ? 2 : 1; }

// Most text is runs of scalars that are clusters on their own (CJK, Latin,
// Cyrillic); those are measured scalar by scalar, and only the stretches
// between certain breaks go through the (much slower) break iterator.
template <class Visit>
void segment(std::string_view text, Visit&& visit) {
    std::size_t pos = 0;
    if (pos >= text.size()) return;
    Scalar current = scalarAt(text, pos);
    while (pos < text.size()) {
        std::size_t next = pos + current.length;
        if (next >= text.size()) {
            visit(pos, next, scalarWidth(current.value));
            return;
        }
        Scalar following = scalarAt(text, next);
        if (certainBreak(current, following)) {
            visit(pos, next, scalarWidth(current.value));
            pos = next;
            current = following;
            continue;
        }
        // Extend the stretch up to the next certain break or the end.
        std::size_t end = next;
        Scalar last = following;
        for (;;) {
            std::size_t after = end + last.length;
            if (after >= text.size()) {
                end = text.size();
                break;
            }
            Scalar upcoming = scalarAt(text, after);
            if (certainBreak(last, upcoming)) {
                end = after;
                current = upcoming;
                break;
            }
            end = after;
            last = upcoming;
        }
        segmentWithICU(text.substr(pos, end - pos), pos, visit);
        pos = end;
    }
}

bool printable(unsigned char byte) { return byte >= 0x20 && byte < 0x7F; }

} // namespace

std::size_t sgrLength(std::string_view text, std::size_t pos) {
    if (pos + 1 >= text.size() || text[pos] != '\x1B' || text[pos + 1] != '[') return 0;
    for (std::size_t i = pos + 2; i < text.size(); ++i) {
        char c = text[i];
        if (c == 'm') return i + 1 - pos;
        if ((c < '0' || c > '9') && c != ';') return 0;
    }
    return 0;
}

std::size_t printablePrefix(std::string_view text) {
    const char* bytes = text.data();
    std::size_t size = text.size();
    std::size_t i = 0;
    // Eight bytes at a time: a word passes when no byte is below 0x20, none
    // is 0x7F and none has its high bit set.
    constexpr uint64_t ones = 0x0101010101010101u;
    constexpr uint64_t highs = 0x8080808080808080u;
    for (; i + 8 <= size; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        uint64_t below = (word - ones * 0x20) & ~word & highs;
        uint64_t above = (word + ones) | word;
        if ((below | (above & highs)) != 0) break;
    }
    while (i < size && printable(static_cast<unsigned char>(bytes[i]))) ++i;
    return i;
}

std::vector<Cluster> clusters(std::string_view text) {
    std::vector<Cluster> found;
    segment(text, [&found](std::size_t start, std::size_t end, unsigned columns) {
        found.push_back(Cluster{start, end, columns});
    });
    return found;
}

std::size_t measure(std::string_view text, std::size_t printable) {
    if (printable == text.size()) return printable;
    // Nothing joins two printable ASCII characters, so a cluster starts at
    // the last of them and the ones before count one column each.
    std::size_t known = printable == 0 ? 0 : printable - 1;
    std::size_t columns = known;
    segment(text.substr(known), [&columns](std::size_t, std::size_t, unsigned width) { columns += width; });
    return columns;
}

} // namespace Terminal::detail
