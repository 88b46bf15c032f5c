#include "Log/Traceparent.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace Log {

namespace {

constexpr std::string_view tooShort = "shorter than 55 characters";
constexpr std::string_view misplacedDashes = "dashes not at 2, 35 and 52";
constexpr std::string_view notLowercaseHex = "not lowercase hex";
constexpr std::string_view versionFF = "version ff";
constexpr std::string_view trailingData = "version 00 with trailing data";
constexpr std::string_view extraFieldsWithoutDash = "a later version's extra fields must follow a dash";
constexpr std::string_view zeroTraceID = "all-zero trace id";
constexpr std::string_view zeroParentID = "all-zero parent id";

bool isLowercaseHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool allLowercaseHex(std::string_view digits) { return std::all_of(digits.begin(), digits.end(), isLowercaseHex); }

bool allZeros(std::string_view digits) {
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0'; });
}

int hexValue(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

// The first check that fails, in the order the checks are made.
std::string_view problem(std::string_view text) {
    if (text.size() < 55) return tooShort;
    if (text[2] != '-' || text[35] != '-' || text[52] != '-') return misplacedDashes;
    if (!allLowercaseHex(text.substr(0, 2)) || !allLowercaseHex(text.substr(3, 32)) ||
        !allLowercaseHex(text.substr(36, 16)) || !allLowercaseHex(text.substr(53, 2)))
        return notLowercaseHex;
    std::string_view version = text.substr(0, 2);
    if (version == "ff") return versionFF;
    if (version == "00") {
        if (text.size() != 55) return trailingData;
    } else if (text.size() != 55 && text[55] != '-') {
        return extraFieldsWithoutDash;
    }
    if (allZeros(text.substr(3, 32))) return zeroTraceID;
    if (allZeros(text.substr(36, 16))) return zeroParentID;
    return {};
}

} // namespace

Traceparent::Malformed::Malformed(std::string value, std::string_view reason)
    : value_(std::move(value)), reason_(reason) {
    description_ = "malformed traceparent \"";
    description_ += value_;
    description_ += "\": ";
    description_ += reason_;
}

std::optional<Traceparent> Traceparent::parsed(std::string_view text, std::string_view& reason) {
    reason = problem(text);
    if (!reason.empty()) return std::nullopt;
    return Traceparent{std::string(text.substr(3, 32)), std::string(text.substr(36, 16)),
                       static_cast<std::uint8_t>(hexValue(text[53]) * 16 + hexValue(text[54]))};
}

Traceparent Traceparent::parsing(std::string_view text) {
    std::string_view reason;
    if (auto value = parsed(text, reason)) return std::move(*value);
    throw Malformed(std::string(text), reason);
}

std::string Traceparent::description() const {
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(55);
    text += "00-";
    text += traceID;
    text += '-';
    text += spanID;
    text += '-';
    text += digits[flags >> 4];
    text += digits[flags & 0xF];
    return text;
}

void to_json(nlohmann::json& json, const Traceparent& traceparent) { json = traceparent.description(); }

void from_json(const nlohmann::json& json, Traceparent& traceparent) {
    traceparent = Traceparent::parsing(json.get_ref<const std::string&>());
}

} // namespace Log

std::size_t std::hash<Log::Traceparent>::operator()(const Log::Traceparent& traceparent) const noexcept {
    std::size_t hash = std::hash<std::string>()(traceparent.traceID);
    hash ^= std::hash<std::string>()(traceparent.spanID) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    hash ^= std::hash<unsigned>()(traceparent.flags) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return hash;
}
