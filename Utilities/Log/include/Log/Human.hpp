#pragma once

#include <Log/Encoding.hpp>
#include <Log/Event.hpp>

#include <string>
#include <unordered_map>

// The human form of events on a terminal: glyph, scope, message, duration
// and key=value fields, indented by span nesting.
namespace Log {

// Renders events one after another, remembering how deep each open span's
// lines are indented. Not locked: the output keeps one behind its lock.
class Human {
public:
    // One line with its line feed: the clock time when `clock` is on,
    // two spaces per nesting level (two more for a step), the verb's glyph,
    // the scope in brackets, the message, a span end's duration and the
    // fields. With `color`, the glyph is bold in the verb's colour and the
    // rest but the message is dimmed.
    std::string render(const Event& event, bool clock, bool color);

    // The nesting depth of an event: a span's start goes one deeper than its
    // parent's start and is remembered until its end; other lines go one
    // deeper than the span they belong to.
    int place(const Event& event);

private:
    std::unordered_map<std::string, int> places_;
};

// "HH:MM:SS" of the local time zone, seconds truncated.
std::string clock(Date date);

// A duration in milliseconds as a person reads it: 0.500ms, 5.0ms, 999ms,
// 1.50s, 1m2s.
std::string humanDuration(double ms);

} // namespace Log
