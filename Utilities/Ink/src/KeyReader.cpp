#include "Ink/Keys.hpp"

#include <optional>

namespace Ink {

namespace {

constexpr char escape = '\x1B';
// A sequence longer than this without its end is noise: dropped.
constexpr size_t longestSequence = 64;

// The key a complete CSI sequence stands for, if any: only unmodified
// arrows, Shift-Tab and the focus reports.
std::optional<Key> csiKey(std::string_view parameters, char final) {
    if (!parameters.empty() && parameters != "1") return std::nullopt;
    switch (final) {
    case 'A': return Key::up;
    case 'B': return Key::down;
    case 'C': return Key::right;
    case 'D': return Key::left;
    case 'Z': return Key::backTab;
    case 'I': return parameters.empty() ? std::optional(Key::focusIn) : std::nullopt;
    case 'O': return parameters.empty() ? std::optional(Key::focusOut) : std::nullopt;
    default: return std::nullopt;
    }
}

} // namespace

std::vector<Key> KeyReader::feed(std::string_view bytes) {
    std::string data = std::move(partial_);
    partial_.clear();
    data.append(bytes);
    std::vector<Key> keys;
    size_t at = 0;
    // Bytes from `at` to the end do not yet make a whole sequence: kept for
    // the next read.
    auto incomplete = [&] {
        if (data.size() - at <= longestSequence) partial_ = data.substr(at);
        at = data.size();
    };
    while (at < data.size()) {
        if (pasting_) {
            // Pasted text is not typing: nothing in it is a key.
            size_t end = data.find("\x1B[201~", at);
            if (end == std::string::npos) {
                // Keep a tail that may be the start of the end marker.
                size_t tail = data.rfind(escape);
                if (tail != std::string::npos && tail >= at && data.size() - tail < 6) partial_ = data.substr(tail);
                return keys;
            }
            at = end + 6;
            pasting_ = false;
            continue;
        }
        char byte = data[at];
        if (byte != escape) {
            switch (byte) {
            case '\t': keys.push_back(Key::tab); break;
            case '\r':
            case '\n': keys.push_back(Key::enter); break;
            case ' ': keys.push_back(Key::space); break;
            case 'q': keys.push_back(Key::quit); break;
            case '\x03': keys.push_back(Key::interrupt); break;
            default: break;
            }
            ++at;
            continue;
        }
        if (at + 1 >= data.size()) {
            incomplete();
            break;
        }
        char kind = data[at + 1];
        if (kind == '[') {
            // CSI: parameter and intermediate bytes, then a final byte.
            size_t end = at + 2;
            while (end < data.size() &&
                   (static_cast<unsigned char>(data[end]) < 0x40 || static_cast<unsigned char>(data[end]) > 0x7E))
                ++end;
            if (end >= data.size()) {
                incomplete();
                break;
            }
            std::string_view parameters(data.data() + at + 2, end - at - 2);
            char final = data[end];
            if (final == 'M' && parameters.empty()) {
                // An old-style mouse report: three raw bytes follow.
                if (data.size() < end + 4) {
                    incomplete();
                    break;
                }
                at = end + 4;
                continue;
            }
            if (final == '~' && parameters == "200") {
                pasting_ = true;
            } else if (auto key = csiKey(parameters, final)) {
                keys.push_back(*key);
            }
            at = end + 1;
        } else if (kind == 'O') {
            // SS3: one byte follows.
            if (at + 2 >= data.size()) {
                incomplete();
                break;
            }
            if (auto key = csiKey({}, data[at + 2]); key && data[at + 2] >= 'A' && data[at + 2] <= 'D')
                keys.push_back(*key);
            at += 3;
        } else if (kind == ']' || kind == 'P' || kind == '_' || kind == '^' || kind == 'X') {
            // A string (OSC, DCS, APC, PM, SOS) up to BEL or ST.
            size_t end = at + 2;
            while (end < data.size() && data[end] != '\x07' &&
                   !(data[end] == escape && end + 1 < data.size() && data[end + 1] == '\\'))
                ++end;
            if (end >= data.size() || (data[end] == escape && end + 1 >= data.size())) {
                incomplete();
                break;
            }
            at = end + (data[end] == '\x07' ? 1 : 2);
        } else if (kind == escape) {
            // ESC ESC: the first was a lone Esc.
            keys.push_back(Key::escape);
            ++at;
        } else {
            // Alt and a key: nothing the kit acts on.
            at += 2;
        }
    }
    return keys;
}

std::vector<Key> KeyReader::flush() {
    std::vector<Key> keys;
    if (partial_ == "\x1B" && !pasting_) keys.push_back(Key::escape);
    partial_.clear();
    return keys;
}

} // namespace Ink
