#include "Terminal/Text.hpp"

#include "Graphemes.hpp"
#include "Terminal/ANSI.hpp"

#include <unicode/utf8.h>

#include <cstdio>

namespace Terminal {

namespace {


// Spaces needed to bring `text` to `n` columns; 0 when it is that wide already.
std::size_t shortfall(std::string_view text, int n) {
    if (n <= 0) return 0;
    std::size_t columns = width(text);
    std::size_t wanted = static_cast<std::size_t>(n);
    return columns < wanted ? wanted - columns : 0;
}

// Scalars above ASCII that a terminal may obey or that change how the rest
// of the line reads: C1 controls, the line and paragraph separators, and the
// bidirectional embeddings, overrides and isolates.
bool escapedScalar(UChar32 c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t at = 0;
    while (at < length) {
        const int32_t start = at;
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        char escape[16];
        if (c < 0) {
            out += "\uFFFD"; // one per maximal ill-formed subpart
        } else if (c >= 0x20 && c != 0x7F && !escapedScalar(c)) {
            out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(at - start)));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x80) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            out += escape;
        } else {
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

std::size_t width(std::string_view text) {
    std::size_t printable = detail::printablePrefix(text);
    if (printable == text.size()) return printable;
    // Styles can split a cluster ("e", a style, a combining accent), so they
    // go before the text is segmented.
    if (text.find('\x1B', printable) != std::string_view::npos) {
        std::string visible = ANSI::strip(text);
        return detail::measure(visible, detail::printablePrefix(visible));
    }
    return detail::measure(text, printable);
}

std::string padStart(std::string_view text, int n) {
    std::string out(shortfall(text, n), ' ');
    out.append(text);
    return out;
}

std::string padEnd(std::string_view text, int n) {
    std::string out(text);
    out.append(shortfall(text, n), ' ');
    return out;
}

std::string clip(std::string_view text, int max, std::string_view mark) {
    if (max >= 0 && width(text) <= static_cast<std::size_t>(max)) return std::string(text);

    // Clusters are found in the visible text, exactly as width() finds them;
    // the walk then copies the original bytes, styles included, cluster by
    // cluster. Every non-style byte of `text` is the next byte of `visible`.
    std::string visible = ANSI::strip(text);
    std::vector<detail::Cluster> clusters = detail::clusters(visible);

    std::string out;
    out.reserve(text.size() + mark.size() + ANSI::reset.size());
    bool styled = false;
    std::size_t pos = 0;
    std::size_t seen = 0; // bytes of `visible` copied so far
    auto copyStyle = [&]() {
        std::size_t length = detail::sgrLength(text, pos);
        if (length == 0) return false;
        out.append(text.substr(pos, length));
        pos += length;
        styled = true;
        return true;
    };

    long long used = 0;
    const long long room = static_cast<long long>(max) - 1;
    bool cut = false;
    for (const detail::Cluster& cluster : clusters) {
        while (copyStyle()) {
        }
        if (used + cluster.columns > room) {
            out.append(mark);
            cut = true;
            break;
        }
        // Styles inside a cluster travel with it.
        while (seen < cluster.end) {
            if (copyStyle()) continue;
            out.push_back(text[pos]);
            ++pos;
            ++seen;
        }
        used += cluster.columns;
    }
    // Only styles remain when nothing was cut (a text without visible
    // characters and a negative max).
    if (!cut) {
        while (copyStyle()) {
        }
    }
    if (styled && !std::string_view(out).ends_with(ANSI::reset)) out.append(ANSI::reset);
    return out;
}

} // namespace Terminal
