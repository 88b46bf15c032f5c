#pragma once

#include <LumraKit/Mode.hpp>
#include <LumraKit/Run.hpp>

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace LumraKit {

// How flipping the system-wide sleep-disable flag came out.
class LidResult {
public:
    enum class Kind { failed, ok, grantMissing, refused };

    static LidResult ok() { return LidResult(Kind::ok, {}); }
    // The user has no sudoers grant for the flag (or sudo refused it).
    static LidResult grantMissing() { return LidResult(Kind::grantMissing, {}); }
    // Any other failure, with the tool's own error text.
    static LidResult failed(std::string detail) { return LidResult(Kind::failed, std::move(detail)); }
    // A host whose lid hold is not the pmset flag refused it; `detail` says
    // why in words for the user.
    static LidResult refused(std::string message) { return LidResult(Kind::refused, std::move(message)); }

    Kind kind() const { return kind_; }
    // The failure text; empty unless `failed` or `refused`.
    const std::string& detail() const { return detail_; }

    // Equal cases, and for `failed` and `refused` equal texts.
    friend bool operator==(const LidResult&, const LidResult&) = default;

private:
    LidResult(Kind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
    Kind kind_;
    std::string detail_;
};

// "ok", "grantMissing", "failed(<detail>)" or "refused(<detail>)", for logs
// and test output.
std::string debugText(const LidResult& result);
std::ostream& operator<<(std::ostream& stream, const LidResult& result);

// The engine's hands on the power manager: the sleep-disable flag through
// pmset (switched through sudo) and power assertions. Stateless; each call
// blocks until the platform answers and may come from any thread. Nothing
// throws: a failure the caller cannot act on is logged and answered safely.
struct Kernel {
    // The flag as "pmset -g" reports it, read fresh each call (one process).
    // Off, and logged, when pmset cannot run or fails.
    static bool sleepDisabled();

    // Runs "sudo -n /usr/bin/pmset -a disablesleep 1|0".
    static LidResult setSleepDisabled(bool on);

    // A new assertion for `idle` (PreventUserIdleSystemSleep) or `display`
    // (PreventUserIdleDisplaySleep), level 255, named "lumra". 0, logged, when
    // the platform refuses. `lid` is not an assertion: asking for it stops the
    // process.
    static uint32_t createAssertion(Mode mode);

    // Releases an ID from createAssertion; an unknown ID is logged.
    static void releaseAssertion(uint32_t id);

    // Whether pmset -g output says the flag is on: the last word of its first
    // line naming SleepDisabled is "1".
    static bool sleepDisabledIn(std::string_view pmsetOutput);

    // What a finished sudo run of the flag flip means: status 0 is `ok`; a
    // refusal by sudo (its standard error, in any letter case, says "a
    // password is required", "not allowed" or "may not run") is
    // `grantMissing`; anything else `failed` with the trimmed standard error.
    static LidResult lidResult(const RunResult& sudoRun);
};

} // namespace LumraKit
