#pragma once

#include "PermissionGrants/Observe.hpp"
#include "PermissionGrants/PermissionGrant.hpp"

#include <Platform/Clock.hpp>
#include <Platform/SystemLog.hpp>

#include <concepts>
#include <deque>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

namespace PermissionGrants {

template <class Reason>
concept ClaimReason = std::equality_comparable<Reason> && requires(std::ostream& out, const Reason& reason) {
    { out << reason };
};

// Reconciles what the settings claim about a capability with what was seen
// when it was used, and keeps a journal of the last 64 transitions and
// contradictions, each also written to a system log channel. Known as
// PermissionGrant::Claim. Not synchronised: one thread at a time.
template <class Reason>
class Claim {
    static_assert(ClaimReason<Reason>, "a claim's reason is equatable and printable");

public:
    // What the settings say.
    struct Intent {
        enum class Case { off, on, unreadable };
        static Intent off(Reason reason) { return {Case::off, std::move(reason)}; }
        static Intent on() { return {Case::on, std::nullopt}; }
        static Intent unreadable() { return {Case::unreadable, std::nullopt}; }
        Case kind;
        std::optional<Reason> reason;
        friend bool operator==(const Intent&, const Intent&) = default;
    };

    // The current judgement of the capability.
    struct Verdict {
        enum class Case { impossible, capable, unproven, unknown };
        static Verdict impossible(Reason reason) { return {Case::impossible, std::move(reason)}; }
        static Verdict capable() { return {Case::capable, std::nullopt}; }
        static Verdict unproven() { return {Case::unproven, std::nullopt}; }
        static Verdict unknown() { return {Case::unknown, std::nullopt}; }
        Case kind;
        std::optional<Reason> reason;
        friend bool operator==(const Verdict&, const Verdict&) = default;
    };

    // What was seen when the capability was used.
    struct Outcome {
        enum class Case { failed, succeeded, witnessed };
        static Outcome failed(std::string message) { return {Case::failed, std::move(message)}; }
        static Outcome succeeded() { return {Case::succeeded, {}}; }
        static Outcome witnessed() { return {Case::witnessed, {}}; }
        Case kind;
        std::string message;
    };

    struct Entry {
        Platform::Date at;
        std::string line;
    };

    static constexpr size_t journalLimit = 64;

    Claim(Reason whenFailing, std::shared_ptr<Platform::SystemLogger> log,
          const Platform::Clock& clock = Platform::hostClock())
        : whenFailing_(std::move(whenFailing)), log_(std::move(log)), clock_(clock) {}

    // Observed.
    const Verdict& verdict() const {
        verdictRegistrar_.access();
        return verdict_;
    }
    // Oldest first. Observed.
    const std::deque<Entry>& journal() const {
        journalRegistrar_.access();
        return journal_;
    }
    const ObservationRegistrar& verdictRegistrar() const { return verdictRegistrar_; }
    const ObservationRegistrar& journalRegistrar() const { return journalRegistrar_; }

    // Reconciles the settings' word with whether the capability works now.
    void evaluate(const Intent& intent, bool live) {
        if (live && !proven_) observe(Outcome::witnessed());
        Verdict next = Verdict::unknown();
        switch (intent.kind) {
        case Intent::Case::off: next = Verdict::impossible(*intent.reason); break;
        case Intent::Case::on: next = proven_ ? Verdict::capable() : afterFailure(Verdict::unproven()); break;
        case Intent::Case::unreadable: next = live ? Verdict::capable() : afterFailure(Verdict::unknown()); break;
        }
        transition(next, "evaluate(" + print(intent) + ")");
    }

    // Records what happened when the capability was used.
    void observe(const Outcome& outcome) {
        if (outcome.kind == Outcome::Case::failed) {
            if (verdict_.kind == Verdict::Case::capable)
                contradiction("failed while predicted capable: " + outcome.message);
            proven_ = false;
            lastFailure_ = outcome.message;
            transition(Verdict::impossible(whenFailing_), "observe(failed)");
            return;
        }
        if (verdict_.kind == Verdict::Case::impossible)
            contradiction(print(outcome) + " while predicted impossible(" + text(*verdict_.reason) + ")");
        proven_ = true;
        lastFailure_.reset();
        transition(Verdict::capable(), "observe(" + print(outcome) + ")");
    }

    static std::string print(const Intent& intent) {
        switch (intent.kind) {
        case Intent::Case::off: return "off(" + text(*intent.reason) + ")";
        case Intent::Case::on: return "on";
        case Intent::Case::unreadable: return "unreadable";
        }
        return "";
    }
    static std::string print(const Verdict& verdict) {
        switch (verdict.kind) {
        case Verdict::Case::impossible: return "impossible(" + text(*verdict.reason) + ")";
        case Verdict::Case::capable: return "capable";
        case Verdict::Case::unproven: return "unproven";
        case Verdict::Case::unknown: return "unknown";
        }
        return "";
    }
    static std::string print(const Outcome& outcome) {
        switch (outcome.kind) {
        case Outcome::Case::failed: return "failed(" + outcome.message + ")";
        case Outcome::Case::succeeded: return "succeeded";
        case Outcome::Case::witnessed: return "witnessed";
        }
        return "";
    }

private:
    static std::string text(const Reason& reason) {
        std::ostringstream out;
        out << reason;
        return out.str();
    }

    Verdict afterFailure(Verdict otherwise) const {
        return lastFailure_ ? Verdict::impossible(whenFailing_) : std::move(otherwise);
    }

    void transition(const Verdict& next, const std::string& cause) {
        if (next == verdict_) return;
        record(print(verdict_) + " \u2192 " + print(next) + "  [" + cause + "]");
        verdict_ = next;
        verdictRegistrar_.didChange();
    }

    void contradiction(const std::string& message) { record("CONTRADICTION: " + message); }

    void record(std::string line) {
        if (log_) log_->write(Platform::SystemLogType::standard, line);
        journal_.push_back({clock_.now(), std::move(line)});
        if (journal_.size() > journalLimit) journal_.pop_front();
        journalRegistrar_.didChange();
    }

    Verdict verdict_ = Verdict::unproven();
    std::deque<Entry> journal_;
    Reason whenFailing_;
    std::shared_ptr<Platform::SystemLogger> log_;
    const Platform::Clock& clock_;
    bool proven_ = false;
    std::optional<std::string> lastFailure_;
    ObservationRegistrar verdictRegistrar_;
    ObservationRegistrar journalRegistrar_;
};

} // namespace PermissionGrants
