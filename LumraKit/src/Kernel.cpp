#include "LumraKit/Kernel.hpp"
#include "LumraKit/Log.hpp"

#include <Platform/Power.hpp>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <variant>

namespace LumraKit {

namespace {

constexpr const char* pmset = "/usr/bin/pmset";
constexpr const char* sudo = "/usr/bin/sudo";

bool isSeparator(char c) { return c == ' ' || c == '\t'; }

std::string lowercased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

[[noreturn]] void fatal(const char* message) {
    std::fprintf(stderr, "Fatal error: %s\n", message);
    std::abort();
}

const char* assertionType(Mode mode) {
    switch (mode) {
    case Mode::idle: return "PreventUserIdleSystemSleep";
    case Mode::display: return "PreventUserIdleDisplaySleep";
    case Mode::lid: break;
    }
    fatal("lid is the pmset flag, not an assertion");
}

} // namespace

std::string debugText(const LidResult& result) {
    switch (result.kind()) {
    case LidResult::Kind::ok: return "ok";
    case LidResult::Kind::grantMissing: return "grantMissing";
    case LidResult::Kind::failed: return "failed(" + result.detail() + ")";
    case LidResult::Kind::refused: return "refused(" + result.detail() + ")";
    }
    return "";
}

std::ostream& operator<<(std::ostream& stream, const LidResult& result) { return stream << debugText(result); }

bool Kernel::sleepDisabledIn(std::string_view output) {
    while (!output.empty()) {
        size_t end = output.find('\n');
        std::string_view line = output.substr(0, end);
        output = end == std::string_view::npos ? std::string_view() : output.substr(end + 1);
        if (line.find("SleepDisabled") == std::string_view::npos) continue;

        while (!line.empty() && isSeparator(line.back())) line.remove_suffix(1);
        size_t start = line.size();
        while (start > 0 && !isSeparator(line[start - 1])) --start;
        return line.substr(start) == "1";
    }
    return false;
}

bool Kernel::sleepDisabled() {
    RunResult result = run(pmset, {"-g"});
    if (result.status != 0) {
        log("pmset -g failed (" + std::to_string(result.status) + "): " + result.errTrimmed() +
            "; taking the sleep-disable flag as off");
        return false;
    }
    return sleepDisabledIn(result.out);
}

LidResult Kernel::lidResult(const RunResult& sudoRun) {
    if (sudoRun.status == 0) return LidResult::ok();
    std::string lower = lowercased(sudoRun.err);
    for (const char* refusal : {"a password is required", "not allowed", "may not run"})
        if (lower.find(refusal) != std::string::npos) return LidResult::grantMissing();
    return LidResult::failed(sudoRun.errTrimmed());
}

LidResult Kernel::setSleepDisabled(bool on) {
    return lidResult(run(sudo, {"-n", pmset, "-a", "disablesleep", on ? "1" : "0"}));
}

uint32_t Kernel::createAssertion(Mode mode) {
    const char* type = assertionType(mode);
    auto created = Platform::Power::createAssertion(type, "lumra", 255);
    if (auto* refusal = std::get_if<Platform::Power::Refusal>(&created)) {
        log(std::string("assertion ") + type + " not created: " + refusal->reason);
        return 0;
    }
    return std::get<uint32_t>(created);
}

void Kernel::releaseAssertion(uint32_t id) {
    if (auto refusal = Platform::Power::releaseAssertion(id))
        log("assertion " + std::to_string(id) + " not released: " + refusal->reason);
}

} // namespace LumraKit
