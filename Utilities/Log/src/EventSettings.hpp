#pragma once

#include "Log/Settings.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace Log::detail {

// The logging variables one event may read, found in a single pass over the
// environment. Each getenv is a pass of its own, and an event may read the
// writer's variables and eight more; one pass keeps a call below every level
// cheap however many variables the process has, and spares a written event a
// pass for every setting it reads. Like getenv, the first entry of a name
// wins.
class EventVariables {
public:
    explicit EventVariables(std::span<const std::string> levelVariables);

    std::optional<std::string_view> logLevel() const { return value(0); }
    std::optional<std::string_view> osLog() const { return value(1); }
    std::optional<std::string_view> recordFile() const { return value(2); }
    std::optional<std::string_view> recordLevel() const { return value(3); }
    std::optional<std::string_view> format() const { return value(4); }
    std::optional<std::string_view> time() const { return value(5); }
    std::optional<std::string_view> service() const { return value(6); }
    std::optional<std::string_view> ship() const { return value(7); }
    // The value of the writer's i-th level variable.
    std::optional<std::string_view> writer(std::size_t i) const;

private:
    static constexpr std::size_t capacity = 16;
    static constexpr std::array<std::string_view, 8> fixedNames{
        "LOG_LEVEL", "LOG_OSLOG", "LOG_RECORD_FILE", "LOG_RECORD_LEVEL", "LOG_FORMAT", "LOG_TIME", "LOG_SERVICE",
        "LOG_SHIP"};

    void match(const char* entry);
    std::optional<std::string_view> value(std::size_t i) const;

    std::span<const std::string> levelVariables_;
    // How many of the writer's variables are looked up in the pass: all of
    // them, unless the writer is deeper than any real scope.
    std::size_t writers_;
    // The fixed names' values, then the writer's.
    const char* values_[capacity] = {};
    // One bit for each byte a name starts with: most entries are passed over
    // after one test.
    std::uint64_t firstBytes_[4] = {};
};

// The plain settings one event needs, copied under one hold of the lock.
struct EventFlags {
    LogLevel level = LogLevel::info;
    LogLevel recordLevel = LogLevel::info;
    bool systemLog = true;
    bool recordFile = false;
    bool time = false;
    std::optional<Format> format;
};

// Everything one event reads of the configuration, gathered once: the
// variables in one pass, the plain settings in one hold of the lock (texts
// are copied only where an event uses them). Each value is still parsed
// only where the rules read it, so a bad one is fatal exactly where it was
// before. Valid for one event on one thread.
class EventSettings {
public:
    explicit EventSettings(std::span<const std::string> levelVariables);

    Reach reach(LogLevel level) const;
    Format format() const;
    bool timeOn() const;
    bool osLogOn() const;
    std::string service() const;
    std::optional<std::string> recordFile() const;
    std::optional<std::string> shipURL() const;

private:
    std::span<const std::string> levelVariables_;
    EventVariables variables_;
    EventFlags flags_;
};

} // namespace Log::detail
