#pragma once

#include <Log/Encoding.hpp>
#include <Log/Settings.hpp>
#include <Log/Value.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One log event and its one-line JSON form, the form in which events are
// printed (in json mode), recorded and shipped. An event is a plain value,
// built on the logging thread and read by every sink.
namespace Log {

// What a line says; its level routes it, its glyph and colour mark it in
// human lines.
enum class Verb : std::uint8_t { error, fail, warn, info, success, wait, ready, step, debug, trace };

inline constexpr std::array<Verb, 10> allVerbs{Verb::error, Verb::fail,  Verb::warn, Verb::info,  Verb::success,
                                               Verb::wait,  Verb::ready, Verb::step, Verb::debug, Verb::trace};

LogLevel level(Verb verb);
std::string_view name(Verb verb);
std::string_view glyph(Verb verb);
// The SGR colour code (31 red, 32 green, 33 yellow, 35 magenta, 37 white, 90 grey).
int colorCode(Verb verb);

// The first and last event of a span.
enum class Phase : std::uint8_t { start, end };

std::string_view name(Phase phase);

// One field ready for every sink: its JSON text and how a human line shows it.
struct Field {
    std::string key;
    std::string json;
    std::string human;

    friend bool operator==(const Field&, const Field&) = default;
};

// The fields in key order (by UTF-8 bytes), each value encoded once.
std::vector<Field> encodeFields(const Fields& fields);

struct Event {
    Date time;
    Verb verb = Verb::info;
    std::string msg;
    std::string service;
    std::vector<std::string> scope;
    std::optional<Phase> phase;
    std::optional<std::string> traceID;  // 32 lowercase hex digits
    std::optional<std::string> spanID;   // 16 lowercase hex digits
    std::optional<std::string> parentID; // 16 lowercase hex digits
    std::optional<double> durMs;         // on a span's end only
    std::vector<Field> fields;           // in key order

    // The JSON line, without a line feed: time, level, verb, msg, service,
    // then scope, phase, trace identifiers, status and duration, fields when
    // present, always in that order.
    std::string json() const;
    void appendJSON(std::string& into) const;
};

} // namespace Log
