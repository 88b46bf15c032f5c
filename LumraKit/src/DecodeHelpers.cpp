#include "DecodeHelpers.hpp"

#include <cmath>
#include <limits>

namespace LumraKit::Decode {

using nlohmann::json;

namespace {

std::string quoted(const char* key) { return std::string("\"") + key + "\""; }

} // namespace

std::string shown(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

void fail(std::string message) { throw DecodingError(std::move(message)); }

void wrongType(const char* key, const char* what, const json& found) {
    fail("Expected " + quoted(key) + " to be " + what + ", found " + found.type_name() + ".");
}

const json* optionalValue(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

const json& requiredValue(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end()) fail("Missing key " + quoted(key) + ".");
    if (found->is_null()) fail("Key " + quoted(key) + " holds null.");
    return *found;
}

bool boolean(const json& value, const char* key) {
    if (!value.is_boolean()) wrongType(key, "true or false", value);
    return value.get<bool>();
}

const std::string& string(const json& value, const char* key) {
    if (!value.is_string()) wrongType(key, "a string", value);
    return value.get_ref<const std::string&>();
}

double number(const json& value, const char* key) {
    if (!value.is_number()) wrongType(key, "a number", value);
    return value.get<double>();
}

int64_t integer(const json& value, const char* key, int64_t lowest, int64_t highest) {
    if (!value.is_number()) wrongType(key, "a whole number", value);
    bool inRange = false;
    int64_t result = 0;
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<uint64_t>();
        inRange = unsignedValue <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
        result = static_cast<int64_t>(unsignedValue);
    } else if (value.is_number_integer()) {
        result = value.get<int64_t>();
        inRange = true;
    } else {
        double real = value.get<double>();
        if (std::trunc(real) != real)
            fail("Expected " + quoted(key) + " to be a whole number, found " + shown(value) + ".");
        // Doubles beyond ±2^62 are too far out for any field read here.
        inRange = std::fabs(real) < 4.6e18;
        if (inRange) result = static_cast<int64_t>(real);
    }
    if (!inRange || result < lowest || result > highest)
        fail("The number " + shown(value) + " in " + quoted(key) + " is out of range.");
    return result;
}

Platform::Date date(const JSONCoder& coder, const json& value, const char* key) {
    try {
        return coder.decodeDate(value);
    } catch (const DecodingError& error) {
        fail("Bad date in " + quoted(key) + ": " + error.what());
    }
}

} // namespace LumraKit::Decode
