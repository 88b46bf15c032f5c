#pragma once

// Checked reads of JSON values for the claim, configuration and suspend
// decoders. Each either returns the value or throws DecodingError naming the
// key, so no exception of the JSON library leaves a decoder.

#include "LumraKit/JSONCoder.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace LumraKit::Decode {

// A value inside an error text; strings with bad bytes must not make the
// report itself throw.
std::string shown(const nlohmann::json& value);

[[noreturn]] void fail(std::string message);

// "Expected \"key\" to be <what>, found <type>."
[[noreturn]] void wrongType(const char* key, const char* what, const nlohmann::json& found);

// The key's value; absent or null gives nullptr.
const nlohmann::json* optionalValue(const nlohmann::json& object, const char* key);
// The key's value; absent or null fails.
const nlohmann::json& requiredValue(const nlohmann::json& object, const char* key);

bool boolean(const nlohmann::json& value, const char* key);
const std::string& string(const nlohmann::json& value, const char* key);
double number(const nlohmann::json& value, const char* key);
// A whole number in [lowest, highest]; an integral float such as 15.0 counts.
int64_t integer(const nlohmann::json& value, const char* key, int64_t lowest, int64_t highest);

// The coder's date; the coder's refusal (a wrong form, or a date the clock
// cannot hold) is reported with the key.
Platform::Date date(const JSONCoder& coder, const nlohmann::json& value, const char* key);

} // namespace LumraKit::Decode
