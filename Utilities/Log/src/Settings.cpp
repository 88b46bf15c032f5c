#include "Log/Settings.hpp"

#include "EventSettings.hpp"
#include "Log/Fatal.hpp"

#include <Platform/Workspace.hpp>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <unistd.h>

extern char** environ;

namespace Log {

namespace {

constexpr std::array<std::string_view, 6> levelNames{"silent", "error", "warn", "info", "debug", "trace"};
constexpr std::array<std::string_view, 2> formatNames{"human", "json"};

struct GuardedSettings {
    std::mutex lock;
    Settings settings;
};

GuardedSettings& guarded() {
    static GuardedSettings instance;
    return instance;
}

// The lock is held only while `access` copies a field in or out.
template <class Access>
auto withSettings(Access access) {
    auto& g = guarded();
    std::lock_guard hold(g.lock);
    return access(g.settings);
}

bool equalsIgnoringASCIICase(std::string_view text, std::string_view lowercase) {
    if (text.size() != lowercase.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowercase[i]) return false;
    }
    return true;
}

[[noreturn]] void unknown(std::string_view source, std::string_view what, std::string_view text,
                          std::string_view want) {
    std::string message;
    message.reserve(source.size() + what.size() + text.size() + want.size() + 20);
    message += source;
    message += ": unknown ";
    message += what;
    message += " \"";
    message += text;
    message += "\" (want ";
    message += want;
    message += ')';
    fatalError(message);
}

// A switch variable must say exactly 1 or 0; anything else is a mistake the
// person should hear about rather than a silent default.
bool flag(const char* variable, std::optional<std::string_view> value, bool setting) {
    if (!value) return setting;
    if (*value == "1") return true;
    if (*value == "0") return false;
    unknown(variable, "value", *value, "1, 0");
}

bool flag(const char* variable, bool Settings::*field) {
    if (auto value = env(variable)) return flag(variable, value, false);
    return withSettings([field](const Settings& settings) { return settings.*field; });
}

detail::EventFlags eventFlags() {
    return withSettings([](const Settings& settings) {
        return detail::EventFlags{settings.level,    settings.recordLevel, settings.systemLog,
                                  settings.recordFile.has_value(), settings.time, settings.format};
    });
}

LogLevel thresholdWith(const detail::EventVariables& variables, std::span<const std::string> levelVariables,
                       LogLevel setting) {
    for (size_t i = 0; i < levelVariables.size(); ++i)
        if (auto value = variables.writer(i)) return parseLevel(levelVariables[i], *value);
    if (auto value = variables.logLevel()) return parseLevel("LOG_LEVEL", *value);
    return setting;
}

bool recordingWith(const detail::EventVariables& variables, const detail::EventFlags& flags) {
    return flag("LOG_OSLOG", variables.osLog(), flags.systemLog) || variables.recordFile() || flags.recordFile;
}

LogLevel recordLevelWith(const detail::EventVariables& variables, LogLevel setting) {
    if (auto value = variables.recordLevel()) return parseLevel("LOG_RECORD_LEVEL", *value);
    return setting;
}

Reach reachWith(LogLevel level, const detail::EventVariables& variables, std::span<const std::string> levelVariables,
                const detail::EventFlags& flags) {
    if (level == LogLevel::silent) fatalError("reach: no event has the level silent");
    // Values are parsed in the rule's order, so a bad variable is fatal only
    // where the rule reads it.
    Reach result;
    if (level <= thresholdWith(variables, levelVariables, flags.level)) result |= Reach::output;
    if (!recordingWith(variables, flags)) return result;
    if (level <= recordLevelWith(variables, flags.recordLevel)) result |= Reach::record;
    return result;
}

Format formatWith(std::optional<std::string_view> value, std::optional<Format> setting) {
    if (value) return parseFormat("LOG_FORMAT", *value);
    if (setting) return *setting;
    return standardErrorIsTerminal() ? Format::human : Format::json;
}

std::optional<std::string> textSetting(std::optional<std::string_view> value,
                                       std::optional<std::string> Settings::*field) {
    if (value) return std::string(*value);
    return withSettings([field](const Settings& settings) { return settings.*field; });
}

std::optional<std::string> shipURLWith(std::optional<std::string_view> value) {
    if (value) return std::string(parseShip("LOG_SHIP", *value));
    return withSettings([](const Settings& settings) { return settings.shipURL; });
}

bool isASCIIAlphanumeric(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string_view withoutExtension(std::string_view name) {
    // A leading dot marks a hidden name, not an extension.
    auto dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return name;
}

std::string processName() {
    std::string_view name = program_invocation_short_name != nullptr ? program_invocation_short_name : "";
    std::string fromExecutable;
    if (name.empty()) {
        char path[PATH_MAX];
        ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
        if (length > 0) {
            fromExecutable.assign(path, static_cast<size_t>(length));
            fromExecutable.erase(0, fromExecutable.rfind('/') + 1);
            name = fromExecutable;
        }
    }
    name = withoutExtension(name);
    return name.empty() ? std::string("process") : std::string(name);
}

std::string serviceWith(std::optional<std::string_view> value) {
    if (value) return std::string(*value);
    if (auto chosen = withSettings([](const Settings& settings) { return settings.service; })) return *chosen;
    // Never destroyed: background threads may still log while the process
    // exits.
    static const std::string& name = *new std::string(processName());
    return name;
}

// Uppercases one scope name and turns every character that is not an ASCII
// letter or digit into one "_". Characters are grapheme clusters, so "ü"
// (composed or not) gives one "_", and uppercasing is Unicode's, so "ß"
// gives "SS".
void appendVariablePart(std::string_view name, std::string& into) {
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        for (size_t i = 0; i < name.size(); ++i) {
            char c = name[i];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            // CR LF is a single character.
            if (c == '\r' && i + 1 < name.size() && name[i + 1] == '\n') ++i;
            into += isASCIIAlphanumeric(static_cast<unsigned char>(c)) ? c : '_';
        }
        return;
    }
    auto length = static_cast<int32_t>(std::min<size_t>(name.size(), INT32_MAX));
    icu::UnicodeString upper = icu::UnicodeString::fromUTF8(icu::StringPiece(name.data(), length));
    upper.toUpper(icu::Locale::getRoot());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !characters) {
        // Without segmentation rules, code points stand in for characters.
        for (int32_t i = 0; i < upper.length(); i = upper.moveIndex32(i, 1)) {
            UChar32 c = upper.char32At(i);
            into += isASCIIAlphanumeric(static_cast<char32_t>(c)) ? static_cast<char>(c) : '_';
        }
        return;
    }
    characters->setText(upper);
    int32_t start = characters->first();
    for (int32_t end = characters->next(); end != icu::BreakIterator::DONE; start = end, end = characters->next()) {
        char16_t c = upper.charAt(start);
        into += end - start == 1 && isASCIIAlphanumeric(c) ? static_cast<char>(c) : '_';
    }
}

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An http or https URL with a host, in the platform's URL syntax.
bool isShipURL(std::string_view text) {
    if (!Platform::URL::parse(text)) return false;
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    auto scheme = text.substr(0, colon);
    if (scheme != "http" && scheme != "https") return false;
    auto rest = text.substr(colon + 1);
    if (!rest.starts_with("//")) return false;
    rest.remove_prefix(2);
    auto authority = rest.substr(0, rest.find_first_of("/?#"));
    if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host;
    std::string_view afterHost;
    if (authority.starts_with('[')) {
        auto close = authority.find(']');
        if (close == std::string_view::npos || close < 2) return false;
        host = authority.substr(0, close + 1);
        afterHost = authority.substr(close + 1);
    } else {
        auto portColon = authority.find(':');
        host = authority.substr(0, portColon);
        afterHost = portColon == std::string_view::npos ? std::string_view() : authority.substr(portColon);
        if (host.find_first_of("[]") != std::string_view::npos) return false;
    }
    if (host.empty()) return false;
    if (afterHost.empty()) return true;
    return afterHost.front() == ':' && isDigits(afterHost.substr(1));
}

} // namespace

std::optional<LogLevel> LogLevel::parsing(std::string_view text) {
    for (size_t raw = 0; raw < levelNames.size(); ++raw)
        if (equalsIgnoringASCIICase(text, levelNames[raw])) return LogLevel(static_cast<Value>(raw));
    return std::nullopt;
}

std::optional<LogLevel> LogLevel::fromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > trace) return std::nullopt;
    return LogLevel(static_cast<Value>(rawValue));
}

std::string_view LogLevel::name() const { return levelNames[value]; }

std::string_view rawValue(Format format) { return formatNames[static_cast<size_t>(format)]; }

std::optional<Format> formatNamed(std::string_view text) {
    for (size_t raw = 0; raw < formatNames.size(); ++raw)
        if (equalsIgnoringASCIICase(text, formatNames[raw])) return static_cast<Format>(raw);
    return std::nullopt;
}

Settings currentSettings() {
    return withSettings([](const Settings& settings) { return settings; });
}

void setLogLevel(std::string_view level) {
    LogLevel parsed = parseLevel("setLogLevel", level);
    withSettings([parsed](Settings& settings) { settings.level = parsed; });
}

void setLogRecordLevel(std::string_view level) {
    LogLevel parsed = parseLevel("setLogRecordLevel", level);
    withSettings([parsed](Settings& settings) { settings.recordLevel = parsed; });
}

void setLogFormat(std::string_view format) {
    Format parsed = parseFormat("setLogFormat", format);
    withSettings([parsed](Settings& settings) { settings.format = parsed; });
}

void setLogTime(bool on) {
    withSettings([on](Settings& settings) { settings.time = on; });
}

void setLogService(std::string_view service) {
    if (service.empty()) fatalError("setLogService: the service name is empty");
    std::string copy(service);
    withSettings([&copy](Settings& settings) { settings.service = std::move(copy); });
}

void setLogOSLog(bool on) {
    withSettings([on](Settings& settings) { settings.systemLog = on; });
}

void setLogRecordFile(std::optional<std::string_view> path) {
    if (path && path->empty()) fatalError("setLogRecordFile: the path is empty");
    std::optional<std::string> copy;
    if (path) copy.emplace(*path);
    withSettings([&copy](Settings& settings) { settings.recordFile = std::move(copy); });
}

void setLogShip(std::string_view url) {
    std::string copy(parseShip("setLogShip", url));
    withSettings([&copy](Settings& settings) { settings.shipURL = std::move(copy); });
}

void setLogShipToken(std::string_view token) {
    if (token.empty()) fatalError("setLogShipToken: the token is empty");
    std::string copy(token);
    withSettings([&copy](Settings& settings) { settings.shipToken = std::move(copy); });
}

std::optional<std::string_view> env(const char* name) {
    // getenv scans in place: nothing is copied on the path every event takes.
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string_view(value);
}

LogLevel parseLevel(std::string_view source, std::string_view text) {
    if (auto level = LogLevel::parsing(text)) return *level;
    unknown(source, "log level", text, "silent, error, warn, info, debug, trace");
}

Format parseFormat(std::string_view source, std::string_view text) {
    if (auto format = formatNamed(text)) return *format;
    unknown(source, "format", text, "human, json");
}

std::string_view parseShip(std::string_view source, std::string_view text) {
    if (!isShipURL(text)) unknown(source, "URL", text, "an http(s) URL");
    return text;
}

std::string levelVariable(std::span<const std::string> scope) {
    std::string variable;
    for (size_t i = 0; i < scope.size(); ++i) {
        if (i > 0) variable += '_';
        appendVariablePart(scope[i], variable);
    }
    variable += "_LOG_LEVEL";
    return variable;
}

LogLevel threshold(std::span<const std::string> levelVariables) {
    return thresholdWith(detail::EventVariables(levelVariables), levelVariables, eventFlags().level);
}

LogLevel recordLevel() { return recordLevelWith(detail::EventVariables({}), eventFlags().recordLevel); }

bool osLogOn() { return flag("LOG_OSLOG", &Settings::systemLog); }

bool timeOn() { return flag("LOG_TIME", &Settings::time); }

bool recording() { return recordingWith(detail::EventVariables({}), eventFlags()); }

bool standardErrorIsTerminal() {
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

Format format() {
    return formatWith(env("LOG_FORMAT"), withSettings([](const Settings& settings) { return settings.format; }));
}

std::string service() { return serviceWith(env("LOG_SERVICE")); }

std::optional<std::string> recordFile() { return textSetting(env("LOG_RECORD_FILE"), &Settings::recordFile); }

std::optional<std::string> shipURL() { return shipURLWith(env("LOG_SHIP")); }

std::optional<std::string> shipToken() { return textSetting(env("LOG_SHIP_TOKEN"), &Settings::shipToken); }

Reach reach(LogLevel level, std::span<const std::string> levelVariables) {
    return detail::EventSettings(levelVariables).reach(level);
}

namespace detail {

EventVariables::EventVariables(std::span<const std::string> levelVariables)
    : levelVariables_(levelVariables),
      writers_(levelVariables.size() <= capacity - fixedNames.size() ? levelVariables.size() : 0) {
    auto noteFirstByte = [this](std::string_view name) {
        auto c = static_cast<unsigned char>(name.front());
        firstBytes_[c >> 6] |= std::uint64_t{1} << (c & 63);
    };
    noteFirstByte(fixedNames.front()); // they all start with "LOG_"
    for (size_t i = 0; i < writers_; ++i) noteFirstByte(levelVariables[i]);
    // Held in locals: match() writes to this object, which would otherwise
    // make every entry load them again. An empty entry starts with a byte
    // no name starts with.
    const std::uint64_t bytes[4] = {firstBytes_[0], firstBytes_[1], firstBytes_[2], firstBytes_[3]};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        auto c = static_cast<unsigned char>(**entry);
        if ((bytes[c >> 6] >> (c & 63) & 1) != 0) match(*entry);
    }
}

std::optional<std::string_view> EventVariables::writer(size_t i) const {
    return i < writers_ ? value(fixedNames.size() + i) : env(levelVariables_[i]);
}

// Like getenv, the first entry of a name wins, and an entry without "="
// names nothing. Names of another length are passed over without a compare.
void EventVariables::match(const char* entry) {
    const char* equals = std::strchr(entry, '=');
    if (equals == nullptr) return;
    std::string_view name(entry, static_cast<size_t>(equals - entry));
    for (size_t i = 0; i < fixedNames.size(); ++i)
        if (values_[i] == nullptr && name == fixedNames[i]) values_[i] = equals + 1;
    for (size_t i = 0; i < writers_; ++i)
        if (values_[fixedNames.size() + i] == nullptr && name == levelVariables_[i])
            values_[fixedNames.size() + i] = equals + 1;
}

std::optional<std::string_view> EventVariables::value(size_t i) const {
    if (values_[i] == nullptr || *values_[i] == '\0') return std::nullopt;
    return std::string_view(values_[i]);
}

EventSettings::EventSettings(std::span<const std::string> levelVariables)
    : levelVariables_(levelVariables), variables_(levelVariables), flags_(eventFlags()) {}

Reach EventSettings::reach(LogLevel level) const { return reachWith(level, variables_, levelVariables_, flags_); }

Format EventSettings::format() const { return formatWith(variables_.format(), flags_.format); }

bool EventSettings::timeOn() const { return flag("LOG_TIME", variables_.time(), flags_.time); }

bool EventSettings::osLogOn() const { return flag("LOG_OSLOG", variables_.osLog(), flags_.systemLog); }

std::string EventSettings::service() const { return serviceWith(variables_.service()); }

std::optional<std::string> EventSettings::recordFile() const {
    return textSetting(variables_.recordFile(), &Settings::recordFile);
}

std::optional<std::string> EventSettings::shipURL() const { return shipURLWith(variables_.ship()); }

} // namespace detail

} // namespace Log
