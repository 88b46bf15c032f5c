#pragma once

// The two claim lists the kill test's writer saves in turn. Built the same
// way in the writer and in the test, with dates a double holds exactly, so
// that a decoded file compares equal to one of them.

#include <LumraKit/Claim.hpp>

#include <string>
#include <vector>

namespace WriterLists {

inline LumraKit::UUID numberedUUID(uint32_t list, uint32_t index) {
    LumraKit::UUID::Bytes bytes{};
    for (size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(list >> (8 * i));
        bytes[12 + i] = static_cast<uint8_t>(index >> (8 * i));
    }
    bytes[6] = 0x40;
    bytes[8] = 0x80;
    return LumraKit::UUID(bytes);
}

// A long list: the writer spends most of its time inside the write.
inline std::vector<LumraKit::Claim> large() {
    using namespace std::chrono_literals;
    std::vector<LumraKit::Claim> claims;
    for (uint32_t i = 0; i < 800; ++i) {
        LumraKit::Term term = i % 3 == 0   ? LumraKit::Term::indefinite()
                              : i % 3 == 1 ? LumraKit::Term::until(Platform::Date(1767225600s + std::chrono::hours(i)))
                                           : LumraKit::Term::whilePid(static_cast<int32_t>(2000 + i), 1767225600.5);
        claims.push_back(LumraKit::Claim::restored(numberedUUID(1, i), "client number " + std::to_string(i), i % 2 == 0,
                                                   {LumraKit::Mode::idle, LumraKit::Mode::display}, i % 4 == 0,
                                                   i % 8 == 0, i % 5 == 0 ? "say goodbye" : "", term,
                                                   Platform::Date(1767225600s + std::chrono::seconds(i))));
    }
    return claims;
}

// A different, short list.
inline std::vector<LumraKit::Claim> small() {
    using namespace std::chrono_literals;
    return {LumraKit::Claim::restored(numberedUUID(2, 0), "you", false, LumraKit::Claim::defaultModes, false, false, "",
                                      LumraKit::Term::indefinite(), Platform::Date(1767225600s + 250ms)),
            LumraKit::Claim::restored(numberedUUID(2, 1), "builder", true, {LumraKit::Mode::idle}, true, false, "",
                                      LumraKit::Term::whilePid(4711, 1767225000.125), Platform::Date(1767225601s))};
}

} // namespace WriterLists
