#include "Terminal/ANSI.hpp"

#include "Graphemes.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

extern char** environ;

namespace Terminal {

namespace {

[[noreturn]] void outOfRange(const char* operation, int value) {
    std::fprintf(stderr, "Terminal::ANSI::%s: %d is outside 0...255\n", operation, value);
    std::abort();
}

int checked(const char* operation, int value) {
    if (value < 0 || value > 255) outOfRange(operation, value);
    return value;
}

// One rule for both sources; `lookup` answers absent or the value.
template <class Lookup>
std::optional<bool> asked(Lookup&& lookup) {
    if (std::optional<std::string_view> force = lookup("FORCE_COLOR"); force && !force->empty())
        return !(*force == "0" || *force == "false");
    if (std::optional<std::string_view> no = lookup("NO_COLOR"); no && !no->empty()) return false;
    if (std::optional<std::string_view> term = lookup("TERM"); term && *term == "dumb") return false;
    return std::nullopt;
}

// ANSI::fg of the palette's colours, spelled out so that styling allocates once.
constexpr std::string_view fg1 = "\x1B[38;5;1m";
constexpr std::string_view fg2 = "\x1B[38;5;2m";
constexpr std::string_view fg3 = "\x1B[38;5;3m";
constexpr std::string_view fg6 = "\x1B[38;5;6m";
constexpr std::string_view fg8 = "\x1B[38;5;8m";

bool bothOutputsAreTerminals() { return isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1; }

std::string wrapped(bool enabled, std::string_view start, std::string_view text) {
    if (!enabled) return std::string(text);
    std::string out;
    out.reserve(start.size() + text.size() + ANSI::reset.size());
    out.append(start).append(text).append(ANSI::reset);
    return out;
}

} // namespace

Environment processEnvironment() {
    Environment environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view pair(*entry);
        std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) continue;
        // The first definition wins, as it does for getenv.
        environment.emplace(pair.substr(0, equals), pair.substr(equals + 1));
    }
    return environment;
}

namespace ANSI {

std::string fg(int n) { return "\x1B[38;5;" + std::to_string(checked("fg", n)) + "m"; }

std::string bg(int n) { return "\x1B[48;5;" + std::to_string(checked("bg", n)) + "m"; }

std::string rgb(int r, int g, int b) {
    return "\x1B[38;2;" + std::to_string(checked("rgb", r)) + ";" + std::to_string(checked("rgb", g)) + ";" +
           std::to_string(checked("rgb", b)) + "m";
}

std::optional<bool> colorAsked(const Environment& environment) {
    return asked([&environment](const char* name) -> std::optional<std::string_view> {
        auto found = environment.find(name);
        if (found == environment.end()) return std::nullopt;
        return std::string_view(found->second);
    });
}

std::optional<bool> colorAsked() {
    return asked([](const char* name) -> std::optional<std::string_view> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string_view(value);
    });
}

std::string strip(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t escape = text.find('\x1B', pos);
        if (escape == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, escape - pos));
        std::size_t length = detail::sgrLength(text, escape);
        if (length == 0) {
            out.push_back('\x1B');
            pos = escape + 1;
        } else {
            pos = escape + length;
        }
    }
    return out;
}

} // namespace ANSI

Palette Palette::detected(const Environment& environment) {
    std::optional<bool> answer = ANSI::colorAsked(environment);
    return Palette{answer ? *answer : bothOutputsAreTerminals()};
}

Palette Palette::detected() {
    std::optional<bool> answer = ANSI::colorAsked();
    return Palette{answer ? *answer : bothOutputsAreTerminals()};
}

std::string Palette::bold(std::string_view text) const { return wrapped(enabled, ANSI::bold, text); }
std::string Palette::dim(std::string_view text) const { return wrapped(enabled, ANSI::dim, text); }
std::string Palette::cyan(std::string_view text) const { return wrapped(enabled, fg6, text); }
std::string Palette::ok(std::string_view text) const { return wrapped(enabled, fg2, text); }
std::string Palette::warn(std::string_view text) const { return wrapped(enabled, fg3, text); }
std::string Palette::bad(std::string_view text) const { return wrapped(enabled, fg1, text); }
std::string Palette::ref(std::string_view text) const { return wrapped(enabled, fg8, text); }
std::string Palette::paint(std::string_view code, std::string_view text) const { return wrapped(enabled, code, text); }

const Palette& ui() {
    static const Palette palette = Palette::detected();
    return palette;
}

} // namespace Terminal
