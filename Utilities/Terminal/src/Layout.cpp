#include "Terminal/Layout.hpp"

#include "Terminal/Text.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <limits>

namespace Terminal {

namespace {

std::size_t count(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

// Removes trailing scalars with the Unicode White_Space property. A space
// under a combining mark ends in the mark, so it stays.
void trimTrailingWhiteSpace(std::string& line) {
    while (!line.empty()) {
        auto last = static_cast<unsigned char>(line.back());
        if (last < 0x80) {
            if (last != ' ' && (last < '\t' || last > '\r')) return;
            line.pop_back();
            continue;
        }
        // A scalar takes at most four bytes; decoding only those keeps the
        // offsets small whatever the line's length.
        int32_t tail = static_cast<int32_t>(std::min<std::size_t>(line.size(), 4));
        const char* bytes = line.data() + line.size() - static_cast<std::size_t>(tail);
        int32_t start = tail;
        UChar32 c = 0;
        U8_PREV(bytes, 0, start, c);
        if (c < 0 || !u_isUWhiteSpace(c)) return;
        line.resize(line.size() - static_cast<std::size_t>(tail - start));
    }
}

} // namespace

std::string table(const std::vector<Row>& rows, const std::optional<Row>& head, std::string_view align, int gap,
                  int indent, const Palette& palette) {
    std::vector<const Row*> all;
    all.reserve(rows.size() + 1);
    if (head) all.push_back(&*head);
    for (const Row& row : rows) all.push_back(&row);

    std::size_t columns = 0;
    for (const Row* row : all) columns = std::max(columns, row->size());
    std::vector<std::size_t> widths(columns, 0);
    for (const Row* row : all) {
        for (std::size_t i = 0; i < row->size(); ++i) widths[i] = std::max(widths[i], width(ANSI::strip((*row)[i])));
    }

    // Measured above without the bold, which has no width anyway.
    Row boldHead;
    if (head && palette.enabled) {
        for (const std::string& cell : *head) boldHead.push_back(palette.bold(cell));
        all.front() = &boldHead;
    }

    const std::string separator(count(gap), ' ');
    const std::string lead(count(indent), ' ');
    std::string out;
    for (std::size_t r = 0; r < all.size(); ++r) {
        const Row& row = *all[r];
        std::string line = lead;
        for (std::size_t i = 0; i < columns; ++i) {
            std::string_view cell = i < row.size() ? std::string_view(row[i]) : std::string_view();
            std::size_t cellWidth = width(ANSI::strip(cell));
            std::size_t pad = widths[i] > cellWidth ? widths[i] - cellWidth : 0;
            if (i > 0) line += separator;
            if (i < align.size() && align[i] == 'r') {
                line.append(pad, ' ').append(cell);
            } else if (i + 1 < columns) {
                line.append(cell).append(pad, ' ');
            } else {
                line.append(cell);
            }
        }
        trimTrailingWhiteSpace(line);
        if (r > 0) out += '\n';
        out += line;
    }
    return out;
}

std::string kv(const std::vector<std::pair<std::string, std::string>>& pairs, int indent, int gap,
               const Palette& palette) {
    std::size_t keyWidth = 0;
    for (const auto& pair : pairs) keyWidth = std::max(keyWidth, width(pair.first));
    const std::string separator(count(gap), ' ');
    const std::string lead(count(indent), ' ');
    // Padding by the key's own width keeps keys with styles in them aligned.
    int target = static_cast<int>(std::min<std::size_t>(keyWidth, std::numeric_limits<int>::max()));
    std::string out;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (i > 0) out += '\n';
        out += lead;
        out += palette.dim(padEnd(pairs[i].first, target));
        out += separator;
        out += pairs[i].second;
    }
    return out;
}

std::string tree(std::string_view title, const std::vector<std::string>& children, int indent) {
    const std::string lead(count(indent), ' ');
    std::string out = lead;
    out.append(title);
    for (const std::string& child : children) {
        out += '\n';
        out += lead;
        out += "  ";
        out += child;
    }
    return out;
}

std::string indent(std::string_view text, int n) {
    const std::string lead(count(n), ' ');
    std::string out;
    out.reserve(text.size() + lead.size());
    std::size_t start = 0;
    for (;;) {
        std::size_t feed = text.find('\n', start);
        out += lead;
        if (feed == std::string_view::npos) {
            out.append(text.substr(start));
            return out;
        }
        out.append(text.substr(start, feed - start + 1));
        start = feed + 1;
    }
}

} // namespace Terminal
