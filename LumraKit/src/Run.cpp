#include "LumraKit/Run.hpp"

#include <Platform/Spawn.hpp>
#include <Platform/UTF8.hpp>

#include <array>
#include <variant>

namespace LumraKit {

namespace {

// Unicode white space and line breaks beyond ASCII's, as UTF-8.
constexpr std::array<std::string_view, 19> wideSpaces{
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

size_t spaceAtStart(std::string_view text) {
    if (text.empty()) return 0;
    char c = text.front();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
    for (auto space : wideSpaces)
        if (text.starts_with(space)) return space.size();
    return 0;
}

size_t spaceAtEnd(std::string_view text) {
    if (text.empty()) return 0;
    char c = text.back();
    if (c == ' ' || (c >= '\t' && c <= '\r')) return 1;
    for (auto space : wideSpaces)
        if (text.ends_with(space)) return space.size();
    return 0;
}

std::string validText(std::string&& bytes) { return Platform::UTF8::isValid(bytes) ? std::move(bytes) : std::string(); }

} // namespace

std::string trimmingWhitespace(std::string_view text) {
    while (size_t length = spaceAtStart(text)) text.remove_prefix(length);
    while (size_t length = spaceAtEnd(text)) text.remove_suffix(length);
    return std::string(text);
}

std::string RunResult::errTrimmed() const { return trimmingWhitespace(err); }

RunResult run(std::string_view path, const std::vector<std::string>& arguments,
              const std::optional<std::map<std::string, std::string>>& env) {
    auto outcome = Platform::runProgram(path, arguments, env);
    if (auto* failure = std::get_if<Platform::LaunchFailure>(&outcome))
        return {-1, "", "launch failed: " + failure->description};
    auto& exit = std::get<Platform::ProgramExit>(outcome);
    return {exit.status, validText(std::move(exit.out)), validText(std::move(exit.err))};
}

} // namespace LumraKit
