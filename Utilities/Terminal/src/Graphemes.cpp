#include "Graphemes.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <atomic>
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

[[noreturn]] void unusable(const char* what, UErrorCode status) {
    std::fprintf(stderr, "Terminal: %s failed: %s\n", what, u_errorName(status));
    std::abort();
}

// What the width rules ask of one scalar: its grapheme break class in the
// low bits, whether it lies in a wide range, and whether it asks for emoji
// presentation (the property, or the selector itself).
constexpr uint32_t classMask = 0x1F;
constexpr uint32_t wideBit = 0x20;
constexpr uint32_t emojiBit = 0x40;
// Extended_Pictographic, which ZWJ joins to the pictograph before it.
constexpr uint32_t pictographicBit = 0x80;
// A virama: newer rules join consonants across it, so clusters that hold
// one are left to the break iterator.
constexpr uint32_t viramaBit = 0x100;
// Set in every remembered entry, so that zero means "not asked yet".
constexpr uint32_t knownBit = 0x8000;

bool wide(UChar32 c) {
    if (c < wideRanges.front().from) return false;
    return std::any_of(wideRanges.begin(), wideRanges.end(),
                       [c](const Range& range) { return c >= range.from && c <= range.to; });
}

[[gnu::noinline]] uint32_t askICU(UChar32 c) {
    auto breakClass = static_cast<uint32_t>(u_getIntPropertyValue(c, UCHAR_GRAPHEME_CLUSTER_BREAK));
    if (breakClass > classMask) unusable("reading grapheme break classes", U_UNSUPPORTED_ERROR);
    bool emoji = c == emojiSelector || u_hasBinaryProperty(c, UCHAR_EMOJI_PRESENTATION);
    bool pictographic = u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC);
    bool virama = u_getCombiningClass(c) == 9;
    return breakClass | (wide(c) ? wideBit : 0) | (emoji ? emojiBit : 0) | (pictographic ? pictographicBit : 0) |
           (virama ? viramaBit : 0);
}

// ICU's property queries cost more than the rest of the measure; each
// scalar up to the end of the wide ranges is asked once per process and
// its answer kept. The table starts as zeros (untouched pages cost nothing)
// and racing threads can only store the same answer.
constexpr UChar32 rememberedLimit = 0x40000;
std::atomic<uint16_t> remembered[rememberedLimit];

// Inlined, as scalarAt below: they run once per scalar of every measure.
[[gnu::always_inline]] inline uint32_t traitsOf(UChar32 c) {
    if (c >= rememberedLimit) return askICU(c);
    uint32_t traits = remembered[c].load(std::memory_order_relaxed);
    if (traits == 0) {
        traits = askICU(c) | knownBit;
        remembered[c].store(static_cast<uint16_t>(traits), std::memory_order_relaxed);
    }
    return traits;
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
    uint32_t traits = traitsOf(next(bytes, i, length));
    if (traits & wideBit) return 2;
    for (;;) {
        if (traits & emojiBit) return 2;
        if (i >= length) return 1;
        traits = traitsOf(next(bytes, i, length));
    }
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

// Small enough to travel in one register.
struct Scalar {
    uint32_t length;
    uint32_t traits;

    int breakClass() const { return static_cast<int>(traits & classMask); }
    // Alone, as a cluster of its own.
    unsigned columns() const { return traits & (wideBit | emojiBit) ? 2u : 1u; }
};

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Well-formed sequences of two and three bytes that can be neither overlong
// nor a surrogate (most text outside ASCII) are read here; anything else
// goes through ICU's checked decoder.
[[gnu::always_inline]] inline Scalar scalarAt(std::string_view text, std::size_t pos) {
    auto p = reinterpret_cast<const unsigned char*>(text.data() + pos);
    std::size_t left = text.size() - pos;
    UChar32 c;
    std::size_t length;
    unsigned lead = p[0];
    if (lead < 0x80) {
        c = static_cast<UChar32>(lead);
        length = 1;
    } else if (lead - 0xE1u < 0x0Fu && lead != 0xED && left >= 3 &&
               ((p[1] ^ 0x80u) | (p[2] ^ 0x80u)) < 0x40u) {
        c = static_cast<UChar32>((lead & 0x0F) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu));
        length = 3;
    } else if (lead - 0xC2u < 0x1Eu && left >= 2 && continuation(p[1])) {
        c = static_cast<UChar32>((lead & 0x1F) << 6 | (p[1] & 0x3Fu));
        length = 2;
    } else {
        int32_t i = 0;
        c = next(text.data() + pos, i, static_cast<int32_t>(std::min<std::size_t>(left, 4)));
        length = static_cast<std::size_t>(i);
    }
    uint32_t traits = traitsOf(c);
    return Scalar{static_cast<uint32_t>(length), traits};
}

constexpr bool plain(int breakClass) {
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
constexpr bool hangulJoins(int before, int after) {
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
constexpr bool breaksBetween(int b, int a) {
    if (b == U_GCB_CONTROL || b == U_GCB_LF) return true;
    if (a == U_GCB_CONTROL || a == U_GCB_CR || a == U_GCB_LF) return b != U_GCB_CR;
    return plain(b) && plain(a) && !hangulJoins(b, a);
}

// The same as one bit per pair of classes: bit b of entry a.
constexpr std::array<uint32_t, classMask + 1> certainBreaks = [] {
    std::array<uint32_t, classMask + 1> table{};
    for (int a = 0; a <= static_cast<int>(classMask); ++a)
        for (int b = 0; b <= static_cast<int>(classMask); ++b)
            if (breaksBetween(b, a)) table[static_cast<std::size_t>(a)] |= uint32_t{1} << b;
    return table;
}();

[[gnu::always_inline]] inline bool certainBreak(const Scalar& before, const Scalar& after) {
    return (certainBreaks[static_cast<std::size_t>(after.breakClass())] >> before.breakClass() & 1) != 0;
}

// The end and width of the cluster that starts with `first` at `pos`, a
// cluster boundary, when it has one of the shapes whose end the rules fix
// from what it holds alone: a scalar of class Other followed by combining
// marks, variation selectors or emoji modifiers (all Extend); pictographs
// joined by ZWJ; a pair of regional indicators. False for any other shape
// (Hangul jamo, prepended or spacing marks, viramas), which the break
// iterator then decides.
bool joinedCluster(std::string_view text, std::size_t pos, const Scalar& first, std::size_t& end,
                   unsigned& columns) {
    bool regional = first.breakClass() == U_GCB_REGIONAL_INDICATOR;
    if (first.breakClass() != U_GCB_OTHER && !regional) return false;
    bool twoColumns = (first.traits & (wideBit | emojiBit)) != 0;
    std::size_t at = pos + first.length;
    if (regional) {
        // Regional indicators pair from a boundary onwards.
        if (at >= text.size()) return false;
        Scalar second = scalarAt(text, at);
        if (second.breakClass() != U_GCB_REGIONAL_INDICATOR) return false;
        twoColumns |= (second.traits & emojiBit) != 0;
        at += second.length;
    }
    // Where a pictograph stands, with nothing but Extend after it; and
    // right after a ZWJ that follows one: the next pictograph joins.
    enum { none, pictograph, joiner } state = (first.traits & pictographicBit) && !regional ? pictograph : none;
    while (at < text.size()) {
        Scalar next = scalarAt(text, at);
        if (next.breakClass() == U_GCB_EXTEND) {
            if (next.traits & viramaBit) return false;
            if (state == joiner) state = none;
        } else if (next.breakClass() == U_GCB_ZWJ) {
            state = state == pictograph ? joiner : none;
        } else if (state == joiner && next.breakClass() == U_GCB_OTHER && (next.traits & pictographicBit)) {
            state = pictograph;
        } else if (next.breakClass() == U_GCB_SPACING_MARK || next.breakClass() == U_GCB_PREPEND) {
            return false;
        } else {
            break; // nothing else attaches to what came before
        }
        twoColumns |= (next.traits & emojiBit) != 0;
        at += next.length;
    }
    end = at;
    columns = twoColumns ? 2 : 1;
    return true;
}

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
            visit(pos, next, current.columns());
            return;
        }
        Scalar following = scalarAt(text, next);
        if (certainBreak(current, following)) {
            visit(pos, next, current.columns());
            pos = next;
            current = following;
            continue;
        }
        std::size_t clusterEnd = 0;
        unsigned columns = 0;
        if (joinedCluster(text, pos, current, clusterEnd, columns)) {
            visit(pos, clusterEnd, columns);
            if (clusterEnd >= text.size()) return;
            pos = clusterEnd;
            current = scalarAt(text, pos);
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
