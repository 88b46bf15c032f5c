#include "Identifiers.hpp"

#include "Log/Traceparent.hpp"

#include <Platform/Random.hpp>

#include <algorithm>

namespace Log {

namespace detail {

void fillID(char* hex, std::size_t bytes) {
    constexpr char digits[] = "0123456789abcdef";
    unsigned char small[32];
    for (;;) {
        bool zero = true;
        std::size_t done = 0;
        while (done < bytes) {
            std::size_t take = std::min(bytes - done, sizeof small);
            Platform::randomBytes(small, take);
            for (std::size_t i = 0; i < take; ++i) {
                zero &= small[i] == 0;
                hex[2 * (done + i)] = digits[small[i] >> 4];
                hex[2 * (done + i) + 1] = digits[small[i] & 0xF];
            }
            done += take;
        }
        if (!zero || bytes == 0) return;
    }
}

} // namespace detail

std::string newID(std::size_t bytes) {
    std::string hex(2 * bytes, '0');
    detail::fillID(hex.data(), bytes);
    return hex;
}

} // namespace Log
