#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string_view>

namespace LumraKit {

// A kind of sleep a claim holds off. `lid` is the system-wide sleep-disable
// flag; `idle` and `display` are power assertions.
enum class Mode { lid, idle, display };

// Every mode, in declaration order.
inline constexpr std::array<Mode, 3> allModes{Mode::lid, Mode::idle, Mode::display};

// "lid", "idle" or "display".
constexpr std::string_view rawValue(Mode mode) {
    switch (mode) {
    case Mode::lid: return "lid";
    case Mode::idle: return "idle";
    case Mode::display: return "display";
    }
    return "";
}

// The mode whose raw value is `text`; absent for any other text.
constexpr std::optional<Mode> modeNamed(std::string_view text) {
    for (Mode mode : allModes)
        if (rawValue(mode) == text) return mode;
    return std::nullopt;
}

// A set of modes as a value: three bits, so copies, unions and subset tests
// cost nothing. Iterates in declaration order (lid, idle, display).
class ModeSet {
public:
    constexpr ModeSet() = default;
    constexpr ModeSet(std::initializer_list<Mode> modes) {
        for (Mode mode : modes) insert(mode);
    }

    constexpr bool contains(Mode mode) const { return (bits_ & bit(mode)) != 0; }
    constexpr void insert(Mode mode) { bits_ = static_cast<uint8_t>(bits_ | bit(mode)); }
    constexpr void erase(Mode mode) { bits_ = static_cast<uint8_t>(bits_ & ~bit(mode)); }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr size_t size() const {
        size_t count = 0;
        for (Mode mode : allModes) count += contains(mode) ? 1 : 0;
        return count;
    }
    constexpr bool isSubsetOf(ModeSet other) const { return (bits_ & ~other.bits_) == 0; }

    constexpr ModeSet operator|(ModeSet other) const { return fromBits(static_cast<uint8_t>(bits_ | other.bits_)); }
    constexpr ModeSet operator&(ModeSet other) const { return fromBits(static_cast<uint8_t>(bits_ & other.bits_)); }
    constexpr ModeSet& operator|=(ModeSet other) { return *this = *this | other; }

    friend constexpr bool operator==(ModeSet, ModeSet) = default;

    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Mode;
        using difference_type = std::ptrdiff_t;
        using pointer = const Mode*;
        using reference = Mode;

        constexpr Iterator() = default;
        constexpr Mode operator*() const { return allModes[index_]; }
        constexpr Iterator& operator++() {
            ++index_;
            skipAbsent();
            return *this;
        }
        constexpr Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        friend constexpr bool operator==(Iterator, Iterator) = default;

    private:
        friend class ModeSet;
        constexpr Iterator(uint8_t bits, size_t index) : bits_(bits), index_(index) { skipAbsent(); }
        constexpr void skipAbsent() {
            while (index_ < allModes.size() && (bits_ & bit(allModes[index_])) == 0) ++index_;
        }
        uint8_t bits_ = 0;
        size_t index_ = 0;
    };

    constexpr Iterator begin() const { return Iterator(bits_, 0); }
    constexpr Iterator end() const { return Iterator(bits_, allModes.size()); }

private:
    static constexpr uint8_t bit(Mode mode) { return static_cast<uint8_t>(1u << static_cast<unsigned>(mode)); }
    static constexpr ModeSet fromBits(uint8_t bits) {
        ModeSet set;
        set.bits_ = bits;
        return set;
    }
    uint8_t bits_ = 0;
};

} // namespace LumraKit
