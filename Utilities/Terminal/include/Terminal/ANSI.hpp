#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace Terminal {

// Variable name to value. Functions that decide from the environment take it
// as a value so that callers (and tests) can pass any environment.
using Environment = std::map<std::string, std::string>;

// A copy of the running process's environment. A variable without "=" is
// skipped.
Environment processEnvironment();

// SGR escape sequences (ECMA-48 Select Graphic Rendition) and the decision
// whether colour is wanted. All pure and thread-safe.
namespace ANSI {

inline constexpr std::string_view reset = "\x1B[0m";
inline constexpr std::string_view bold = "\x1B[1m";
inline constexpr std::string_view dim = "\x1B[2m";
inline constexpr std::string_view italic = "\x1B[3m";
inline constexpr std::string_view underline = "\x1B[4m";

// 256-colour foreground and background, 24-bit foreground. Every argument
// must lie in 0...255; anything else stops the process.
std::string fg(int n);
std::string bg(int n);
std::string rgb(int r, int g, int b);

// Yes or no when FORCE_COLOR, NO_COLOR or TERM decide; no answer otherwise.
// FORCE_COLOR wins over NO_COLOR, which wins over TERM=dumb; an empty
// FORCE_COLOR or NO_COLOR counts as unset.
std::optional<bool> colorAsked(const Environment& environment);
// The same over the process environment, read at each call.
std::optional<bool> colorAsked();

// The text with every SGR sequence (ESC "[" digits and semicolons "m")
// removed. Other escape sequences are kept.
std::string strip(std::string_view text);

} // namespace ANSI

// Named styles that wrap a text between a start sequence and ANSI::reset, or
// return it unchanged when `enabled` is false.
struct Palette {
    bool enabled = false;

    // The environment's answer when it gives one; otherwise colour only when
    // both standard output and standard error are terminals.
    static Palette detected(const Environment& environment);
    static Palette detected();

    std::string bold(std::string_view text) const;
    std::string dim(std::string_view text) const;
    std::string head(std::string_view text) const { return bold(text); }
    std::string muted(std::string_view text) const { return dim(text); }
    std::string cyan(std::string_view text) const;
    std::string ok(std::string_view text) const;
    std::string warn(std::string_view text) const;
    std::string bad(std::string_view text) const;
    std::string ref(std::string_view text) const;
    std::string accent(std::string_view text) const { return cyan(text); }
    std::string green(std::string_view text) const { return ok(text); }
    std::string yellow(std::string_view text) const { return warn(text); }
    std::string red(std::string_view text) const { return bad(text); }
    std::string gray(std::string_view text) const { return ref(text); }
    // `code` is written as given, so any sequence (ANSI::rgb, several joined) works.
    std::string paint(std::string_view code, std::string_view text) const;
};

// The process-wide palette, detected from the process environment at its
// first use and fixed from then on. Safe to call from any thread.
const Palette& ui();

} // namespace Terminal
