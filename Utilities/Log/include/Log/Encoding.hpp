#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The canonical JSON pieces every log line is built from. Each appends to a
// caller's text so that a whole line grows in one buffer; the same input
// always yields the same bytes. Pure functions, any thread.
namespace Log {

using Date = std::chrono::system_clock::time_point;

// Appends `text` as a JSON string. Quote, backslash and the controls
// \b \t \n \f \r get their short escapes, the other controls below U+0020
// become \u00xx, and everything else is copied as it is. Bytes that are not
// valid UTF-8 are replaced by U+FFFD, one per maximal ill-formed
// subsequence, so the result is always valid JSON.
void appendString(std::string_view text, std::string& into);

// The ECMAScript text of a number: shortest round-trip digits, plain
// notation from 1e-6 up to below 1e21 and exponent notation ("1e+21",
// "1.5e-7") outside, "0" for either zero. NaN and the infinities become the
// JSON strings "NaN", "Infinity" and "-Infinity".
std::string jsNumber(double x);
void appendNumber(double x, std::string& into);

// An integer as a bare number when its magnitude is at most 2^53 - 1, else
// as a JSON string of its digits, so a reader that holds numbers as doubles
// never sees a rounded integer.
void appendInteger(std::int64_t value, std::string& into);
void appendInteger(std::uint64_t value, std::string& into);

// "YYYY-MM-DDTHH:MM:SS.mmmZ" in UTC, milliseconds cut rather than rounded.
std::string instant(Date date);
// The same text, for a time given in whole milliseconds since 1970; earlier
// times count back from there.
void appendInstant(std::int64_t millisecondsSince1970, std::string& into);

// `text` as it is, or as a JSON string when it is empty or holds a space, a
// quote, an equals sign, a control character, white space or bytes that are
// not UTF-8, so every field of a human line reads as key=value.
std::string humanText(std::string_view text);
bool humanTextNeedsQuotes(std::string_view text);

// Standard Base64 with padding and no line breaks.
void appendBase64(std::span<const std::byte> bytes, std::string& into);

} // namespace Log
