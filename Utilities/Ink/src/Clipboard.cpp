#include "Block.hpp"

namespace Ink::detail {

std::string clipboard(std::string_view text) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "\x1B]52;c;";
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        auto a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]),
             c = static_cast<unsigned char>(text[i + 2]);
        out += digits[a >> 2];
        out += digits[((a & 3) << 4) | (b >> 4)];
        out += digits[((b & 15) << 2) | (c >> 6)];
        out += digits[c & 63];
    }
    if (size_t rest = text.size() - i; rest > 0) {
        auto a = static_cast<unsigned char>(text[i]);
        auto b = rest == 2 ? static_cast<unsigned char>(text[i + 1]) : 0;
        out += digits[a >> 2];
        out += digits[((a & 3) << 4) | (b >> 4)];
        out += rest == 2 ? digits[(b & 15) << 2] : '=';
        out += '=';
    }
    // BEL ends the sequence: understood more widely than ST.
    out += '\x07';
    return out;
}

} // namespace Ink::detail
