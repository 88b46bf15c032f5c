#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// How much the structured log says and where it goes. Programmatic choices
// live in one process-wide settings record; the logging environment variables
// override them and are read again at every use, so changing a variable while
// the process runs takes effect at the next event. A bad value in a variable
// stops the process when it is first consulted, with a message naming the
// variable. Every function here may be called from any thread.
namespace Log {

// Ordered by verbosity: a more verbose level compares greater.
struct LogLevel {
    enum Value : std::uint8_t { silent = 0, error = 1, warn = 2, info = 3, debug = 4, trace = 5 };

    constexpr LogLevel(Value value) : value(value) {}

    // Any of the six names in any letter case; nothing is trimmed.
    static std::optional<LogLevel> parsing(std::string_view text);
    // 0 to 5 only.
    static std::optional<LogLevel> fromRawValue(int rawValue);

    constexpr int rawValue() const { return value; }
    std::string_view name() const;

    friend constexpr auto operator<=>(const LogLevel&, const LogLevel&) = default;

    Value value;
};

inline constexpr std::array<LogLevel, 6> allLogLevels{LogLevel::silent, LogLevel::error, LogLevel::warn,
                                                      LogLevel::info,   LogLevel::debug, LogLevel::trace};

// The form of lines on standard error.
enum class Format : std::uint8_t { human, json };

std::string_view rawValue(Format format);
// "human" or "json" in any letter case.
std::optional<Format> formatNamed(std::string_view text);

// The sinks one event goes to: the output line on standard error (which also
// feeds shipping) and the record (system log and record file). Empty means
// the event is dropped before it is built.
struct Reach {
    std::uint8_t rawValue = 0;

    static const Reach output;
    static const Reach record;

    constexpr bool empty() const { return rawValue == 0; }
    constexpr bool contains(Reach other) const { return (rawValue & other.rawValue) == other.rawValue; }
    constexpr Reach operator|(Reach other) const { return Reach{static_cast<std::uint8_t>(rawValue | other.rawValue)}; }
    constexpr Reach& operator|=(Reach other) { return *this = *this | other; }
    friend constexpr bool operator==(const Reach&, const Reach&) = default;
};

inline constexpr Reach Reach::output{1};
inline constexpr Reach Reach::record{2};

// The programmatic choices, with their start values.
struct Settings {
    LogLevel level = LogLevel::info;
    LogLevel recordLevel = LogLevel::info;
    std::optional<Format> format;
    bool time = false;
    std::optional<std::string> service;
    std::optional<std::string> shipURL;
    std::optional<std::string> shipToken;
    bool systemLog = true;
    std::optional<std::string> recordFile;
};

// A copy of the settings record as it is now.
Settings currentSettings();

// Each takes effect for the next event on every thread and may be called at
// any time. Texts that do not parse stop the process with a message naming
// the function; empty texts where a value is required are programming errors
// and stop it too.
void setLogLevel(std::string_view level);
void setLogRecordLevel(std::string_view level);
void setLogFormat(std::string_view format);
void setLogTime(bool on);
void setLogService(std::string_view service);
void setLogOSLog(bool on);
void setLogRecordFile(std::optional<std::string_view> path);
void setLogShip(std::string_view url);
void setLogShipToken(std::string_view token);

// The variable's value when it is set and not empty. The view points into
// the environment: use it before anything can change that variable.
std::optional<std::string_view> env(const char* name);
inline std::optional<std::string_view> env(const std::string& name) { return env(name.c_str()); }

// The level or format that `text` names, or a fatal configuration error that
// names `source` (the variable or function that supplied the text).
LogLevel parseLevel(std::string_view source, std::string_view text);
Format parseFormat(std::string_view source, std::string_view text);
// `text` when it is an http or https URL with a host, else fatal.
std::string_view parseShip(std::string_view source, std::string_view text);

// "<SCOPE>_LOG_LEVEL" for a scope path, outermost name first.
std::string levelVariable(std::span<const std::string> scope);

// The output level for a writer governed by `levelVariables` (most specific
// first): the first of them that is set, else LOG_LEVEL, else the setting.
LogLevel threshold(std::span<const std::string> levelVariables);
LogLevel recordLevel();
bool osLogOn();
bool timeOn();
// True when the system log is on or a record file is configured.
bool recording();
Format format();
// LOG_SERVICE, else the setting, else the process name without extension.
std::string service();
// LOG_RECORD_FILE, else the setting.
std::optional<std::string> recordFile();
// LOG_SHIP (validated), else the setting.
std::optional<std::string> shipURL();
// LOG_SHIP_TOKEN, else the setting.
std::optional<std::string> shipToken();

// Whether standard error is a terminal, asked once per process.
bool standardErrorIsTerminal();

// Which sinks an event of `level` reaches from a writer governed by
// `levelVariables`. LOG_RECORD_LEVEL is consulted only while recording is on.
// `level` must not be silent: no event has that level.
Reach reach(LogLevel level, std::span<const std::string> levelVariables);

} // namespace Log
