#include "Log/Human.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace Log {

namespace {

constexpr std::string_view dimStart = "\x1B[2m";
constexpr std::string_view reset = "\x1B[0m";

// Appends `text`, wrapped in dim and reset when colour is on.
template <class... Parts>
void appendDimmed(std::string& line, bool color, const Parts&... parts) {
    if (color) line += dimStart;
    (line += ... += parts);
    if (color) line += reset;
}

std::string formatted(const char* format, double value) {
    char text[64];
    int length = std::snprintf(text, sizeof text, format, value);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

} // namespace

int Human::place(const Event& event) {
    auto depthBelow = [this](const std::optional<std::string>& id) {
        if (!id) return 0;
        auto found = places_.find(*id);
        return found != places_.end() ? found->second + 1 : 0;
    };
    if (event.phase == Phase::start) {
        int depth = depthBelow(event.parentID);
        if (event.spanID) places_[*event.spanID] = depth;
        return depth;
    }
    if (event.phase == Phase::end) {
        if (event.spanID) {
            if (auto found = places_.find(*event.spanID); found != places_.end()) {
                int depth = found->second;
                places_.erase(found);
                return depth;
            }
        }
        return depthBelow(event.parentID);
    }
    return depthBelow(event.spanID);
}

std::string Human::render(const Event& event, bool clock, bool color) {
    std::string line;
    line.reserve(96);
    if (clock) {
        appendDimmed(line, color, Log::clock(event.time));
        line += ' ';
    }
    line.append(static_cast<size_t>(2 * place(event)), ' ');
    if (event.verb == Verb::step) line += "  ";
    if (color) {
        line += "\x1B[";
        line += std::to_string(colorCode(event.verb));
        line += 'm';
        line += "\x1B[1m";
        line += glyph(event.verb);
        line += reset;
    } else {
        line += glyph(event.verb);
    }
    line += ' ';
    if (!event.scope.empty()) {
        if (color) line += dimStart;
        line += '[';
        for (size_t i = 0; i < event.scope.size(); ++i) {
            if (i > 0) line += ' ';
            line += event.scope[i];
        }
        line += ']';
        if (color) line += reset;
        line += ' ';
    }
    line += event.msg;
    if (event.phase == Phase::end && event.durMs) {
        line += ' ';
        appendDimmed(line, color, humanDuration(*event.durMs));
    }
    for (const auto& field : event.fields) {
        line += ' ';
        appendDimmed(line, color, field.key, "=", field.human);
    }
    line += '\n';
    return line;
}

std::string clock(Date date) {
    std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count();
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) return "--:--:--";
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string humanDuration(double ms) {
    if (ms < 1) return formatted("%.3fms", ms);
    if (ms < 10) return formatted("%.1fms", ms);
    if (ms < 1000) return formatted("%.0fms", ms);
    if (ms < 60000) return formatted("%.2fs", ms / 1000);
    double minutes = std::trunc(ms / 60000);
    double seconds = std::round(std::fmod(ms, 60000) / 1000);
    char text[64];
    std::snprintf(text, sizeof text, "%.0fm%.0fs", minutes, seconds);
    return text;
}

} // namespace Log
