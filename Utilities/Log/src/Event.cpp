#include "Log/Event.hpp"

#include <chrono>

namespace Log {

namespace {

struct VerbTraits {
    LogLevel level;
    std::string_view name;
    std::string_view glyph;
    int color;
};

constexpr std::array<VerbTraits, 10> verbs{{
    {LogLevel::error, "error", "\u2A2F", 31},
    {LogLevel::error, "fail", "\u2A2F", 31},
    {LogLevel::warn, "warn", "\u26A0", 33},
    {LogLevel::info, "info", " ", 37},
    {LogLevel::info, "success", "\u2713", 32},
    {LogLevel::info, "wait", "\u25CB", 37},
    {LogLevel::info, "ready", "\u25B6", 32},
    {LogLevel::info, "step", "\u2022", 90},
    {LogLevel::debug, "debug", "\u25E6", 90},
    {LogLevel::trace, "trace", "\u00BB", 35},
}};

const VerbTraits& traits(Verb verb) { return verbs[static_cast<size_t>(verb)]; }

// Identifiers are hex by construction; going through the string encoder
// costs nothing for hex and keeps the line valid JSON whatever they hold.
void appendIdentifier(std::string_view key, const std::optional<std::string>& id, std::string& into) {
    if (!id) return;
    into += key;
    appendString(*id, into);
}

} // namespace

LogLevel level(Verb verb) { return traits(verb).level; }
std::string_view name(Verb verb) { return traits(verb).name; }
std::string_view glyph(Verb verb) { return traits(verb).glyph; }
int colorCode(Verb verb) { return traits(verb).color; }

std::string_view name(Phase phase) { return phase == Phase::start ? "start" : "end"; }

std::vector<Field> encodeFields(const Fields& fields) {
    // The map already holds its keys in byte order.
    std::vector<Field> encoded;
    encoded.reserve(fields.size());
    for (const auto& [key, value] : fields) {
        auto& field = encoded.emplace_back(Field{key, value.json(), {}});
        field.human = value.human(field.json);
    }
    return encoded;
}

void Event::appendJSON(std::string& into) const {
    into += "{\"time\":\"";
    appendInstant(std::chrono::floor<std::chrono::milliseconds>(time.time_since_epoch()).count(), into);
    into += "\",\"level\":\"";
    into += level(verb).name();
    into += "\",\"verb\":\"";
    into += name(verb);
    into += "\",\"msg\":";
    appendString(msg, into);
    into += ",\"service\":";
    appendString(service, into);
    if (!scope.empty()) {
        into += ",\"scope\":[";
        for (size_t i = 0; i < scope.size(); ++i) {
            if (i > 0) into += ',';
            appendString(scope[i], into);
        }
        into += ']';
    }
    if (phase) {
        into += ",\"phase\":\"";
        into += name(*phase);
        into += '"';
    }
    appendIdentifier(",\"trace_id\":", traceID, into);
    appendIdentifier(",\"span_id\":", spanID, into);
    appendIdentifier(",\"parent_id\":", parentID, into);
    if (phase == Phase::end && durMs) {
        into += verb == Verb::fail ? ",\"status\":\"error\"" : ",\"status\":\"ok\"";
        into += ",\"dur_ms\":";
        appendNumber(*durMs, into);
    }
    if (!fields.empty()) {
        into += ",\"fields\":{";
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) into += ',';
            appendString(fields[i].key, into);
            into += ':';
            into += fields[i].json;
        }
        into += '}';
    }
    into += '}';
}

std::string Event::json() const {
    std::string line;
    line.reserve(160);
    appendJSON(line);
    return line;
}

} // namespace Log
