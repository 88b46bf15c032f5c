#include "LumraKit/Run.hpp"

#include <Platform/Spawn.hpp>
#include <Platform/UTF8.hpp>

#include <variant>

namespace LumraKit {

namespace {

std::string validText(std::string&& bytes) { return Platform::UTF8::isValid(bytes) ? std::move(bytes) : std::string(); }

} // namespace

std::string RunResult::errTrimmed() const { return Platform::UTF8::trimmingWhitespace(err); }

RunResult run(std::string_view path, const std::vector<std::string>& arguments,
              const std::optional<std::map<std::string, std::string>>& env) {
    auto outcome = Platform::runProgram(path, arguments, env);
    if (auto* failure = std::get_if<Platform::LaunchFailure>(&outcome))
        return {-1, "", "launch failed: " + failure->description};
    auto& exit = std::get<Platform::ProgramExit>(outcome);
    return {exit.status, validText(std::move(exit.out)), validText(std::move(exit.err))};
}

} // namespace LumraKit
