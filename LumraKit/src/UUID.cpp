#include "LumraKit/UUID.hpp"

#include <Platform/Random.hpp>

namespace LumraKit {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr bool isDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

} // namespace

UUID UUID::random() {
    Bytes bytes{};
    Platform::randomBytes(bytes.data(), bytes.size());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return UUID(bytes);
}

std::optional<UUID> UUID::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Bytes bytes{};
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (isDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int high = hexValue(text[i]);
        int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[byte++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    return UUID(bytes);
}

std::string UUID::text() const {
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hexDigits[bytes_[i] >> 4];
        text += hexDigits[bytes_[i] & 0x0F];
    }
    return text;
}

} // namespace LumraKit

size_t std::hash<LumraKit::UUID>::operator()(const LumraKit::UUID& uuid) const noexcept {
    // Random UUIDs are uniform already; folding the halves is enough.
    uint64_t high = 0, low = 0;
    for (size_t i = 0; i < 8; ++i) {
        high = high << 8 | uuid.bytes()[i];
        low = low << 8 | uuid.bytes()[i + 8];
    }
    return static_cast<size_t>(high ^ (low * 0x9E3779B97F4A7C15ull));
}
