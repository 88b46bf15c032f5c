// Arbitrary bytes as a claims file and as a configuration file, decoded by
// the code the stores use. Whatever decodes must encode and decode again to
// the same values (dates within a few microseconds: a double of seconds
// keeps no more near the ends of the clock's range), and nothing may crash or
// throw anything but DecodingError.

#include <LumraKit/ClaimStore.hpp>
#include <LumraKit/Config.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using namespace std::chrono_literals;

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "state-files-fuzz: %s\n", what);
    std::abort();
}

bool close(Platform::Date a, Platform::Date b) { return std::chrono::abs(a - b) <= 10us; }

bool sameClaim(const LumraKit::Claim& a, const LumraKit::Claim& b) {
    bool terms = a.term.kind() == b.term.kind();
    if (terms && a.term.ifUntil()) terms = close(a.term.ifUntil()->date, b.term.ifUntil()->date);
    if (terms && a.term.ifWhilePid()) terms = *a.term.ifWhilePid() == *b.term.ifWhilePid();
    return terms && a.id == b.id && a.owner == b.owner && a.forced == b.forced && a.modes == b.modes &&
           a.wantsLid == b.wantsLid && a.lidGranted == b.lidGranted && a.onEnd == b.onEnd &&
           close(a.startedAt, b.startedAt);
}

void claimsFile(std::string_view text) {
    std::vector<LumraKit::Claim> claims;
    try {
        claims = LumraKit::ClaimStore::decode(text);
    } catch (const LumraKit::DecodingError&) {
        return;
    }
    for (const auto& claim : claims) {
        (void)claim.key();
        (void)LumraKit::debugText(claim);
        (void)LumraKit::Claim::matching(claim.owner, claims);
    }
    std::vector<LumraKit::Claim> again;
    try {
        again = LumraKit::ClaimStore::decode(LumraKit::ClaimStore::encode(claims));
    } catch (const LumraKit::DecodingError&) {
        check(false, "an encoded claim list did not decode");
    }
    check(again.size() == claims.size(), "the claim count changed in a round trip");
    for (size_t i = 0; i < claims.size(); ++i) check(sameClaim(claims[i], again[i]), "a claim changed in a round trip");
}

void configFile(std::string_view text) {
    LumraKit::Config config;
    try {
        config = LumraKit::Config::decode(text);
    } catch (const LumraKit::DecodingError&) {
        return;
    }
    LumraKit::Config again;
    try {
        again = LumraKit::Config::decode(config.encoded());
    } catch (const LumraKit::DecodingError&) {
        check(false, "an encoded configuration did not decode");
    }
    check(again.nextUpdateCheck.has_value() == config.nextUpdateCheck.has_value(), "nextUpdateCheck changed");
    if (config.nextUpdateCheck) check(close(*again.nextUpdateCheck, *config.nextUpdateCheck), "nextUpdateCheck moved");
    again.nextUpdateCheck = config.nextUpdateCheck;
    check(again == config, "the configuration changed in a round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    claimsFile(text);
    configFile(text);
    (void)LumraKit::cleanedOwner(text);
    (void)LumraKit::lowercased(text);
    return 0;
}
