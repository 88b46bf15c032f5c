#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace LumraKit {

// A 128-bit identifier, as claims and notifications carry. A plain value:
// any thread, no failure beyond `parse` returning nothing.
class UUID {
public:
    using Bytes = std::array<uint8_t, 16>;

    // The nil UUID, all zeros.
    constexpr UUID() = default;
    constexpr explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A fresh random (version 4) UUID from the system's entropy source.
    static UUID random();

    // The UUID written in 8-4-4-4-12 hexadecimal form, digits in either
    // case; nothing for any other text.
    static std::optional<UUID> parse(std::string_view text);

    // The canonical form: 8-4-4-4-12 upper-case hexadecimal.
    std::string text() const;

    constexpr const Bytes& bytes() const { return bytes_; }

    friend constexpr auto operator<=>(const UUID&, const UUID&) = default;

private:
    Bytes bytes_{};
};

} // namespace LumraKit

template <>
struct std::hash<LumraKit::UUID> {
    size_t operator()(const LumraKit::UUID& uuid) const noexcept;
};
