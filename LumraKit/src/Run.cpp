#include "LumraKit/Run.hpp"

#include "LumraKit/Log.hpp"

#include <Platform/SimulatedHost.hpp>
#include <Platform/Spawn.hpp>
#include <Platform/UTF8.hpp>

#include <variant>

namespace LumraKit {

namespace {

std::string validText(std::string&& bytes) { return Platform::UTF8::isValid(bytes) ? std::move(bytes) : std::string(); }

} // namespace

std::string RunResult::errTrimmed() const { return Platform::UTF8::trimmingWhitespace(err); }

std::string durationText(std::chrono::milliseconds duration) {
    if (duration.count() % 1000 == 0) return std::to_string(duration.count() / 1000) + " s";
    return std::to_string(duration.count()) + " ms";
}

RunResult run(std::string_view path, const std::vector<std::string>& arguments,
              const std::optional<std::map<std::string, std::string>>& env, std::chrono::milliseconds limit) {
    Platform::SpawnOptions options;
    options.limit = limit;
    auto outcome = Platform::runProgram(path, arguments, env, Platform::SimulatedHost::root(), options);
    if (auto* failure = std::get_if<Platform::LaunchFailure>(&outcome))
        return {-1, "", "launch failed: " + failure->description};
    auto& exit = std::get<Platform::ProgramExit>(outcome);
    if (exit.timedOut) {
        std::string command(path);
        for (const auto& argument : arguments) command += " " + argument;
        log(command + " ran past " + durationText(limit) + " and was killed; the run counts as failed");
        return {-1, validText(std::move(exit.out)), "timed out after " + durationText(limit)};
    }
    return {exit.status, validText(std::move(exit.out)), validText(std::move(exit.err))};
}

} // namespace LumraKit
