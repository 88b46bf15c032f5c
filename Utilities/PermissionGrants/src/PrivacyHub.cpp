#include "PermissionGrants/PrivacyHub.hpp"
#include "PermissionGrants/GrantLog.hpp"
#include "PermissionGrants/PrivacyCodes.hpp"
#include "PermissionGrants/Readings.hpp"

#include <array>
#include <vector>

namespace PermissionGrants {

using Answer = PrivacyHub::Answer;
using Source = PrivacyHub::Source;

namespace {

using namespace std::chrono_literals;

constexpr std::array<std::string_view, 5> rawValues{"allowed", "denied", "not asked", "allowed on reopen", "unknown"};

// The timer re-reads this often, but only this long after a reason to
// expect a change.
constexpr Platform::Duration refreshInterval = 2s;
constexpr Platform::Duration windowLength = 120s;

std::string sourceName(Source source, bool fresh) {
    std::string name = source == Source::preflight ? "tccd" : "public API";
    if (fresh) name += ", fresh process";
    return name;
}

} // namespace

std::string_view rawValue(Answer answer) { return rawValues[static_cast<size_t>(answer)]; }

PrivacyHub::PrivacyHub(Dependencies dependencies) : use_(std::move(dependencies)) {}

PrivacyHub::~PrivacyHub() = default;

Source PrivacyHub::source() {
    std::call_once(sourceChosen_, [this] {
        const char* variable = use_.publicAPIVariable ? use_.publicAPIVariable() : nullptr;
        source_ = PrivacyCodes::chooseSource(variable, use_.services->hasPreflight());
        if (source_ == Source::preflight) return;
        if (variable != nullptr && std::string_view(variable) == "1")
            grantLog.warn("readings from the public APIs (GRANT_PUBLIC_API=1)");
        else
            grantLog.error("TCCAccessPreflight is gone from TCC.framework: readings fall back to the public APIs");
    });
    return source_;
}

uint64_t PrivacyHub::revision() const {
    registrar_.access();
    std::lock_guard lock(lock_);
    return revision_;
}

bool PrivacyHub::hasAsked(Privacy privacy) {
    std::lock_guard lock(askedLock_);
    return asked_.contains(privacy);
}

int PrivacyHub::currentCode(Privacy privacy) {
    return PrivacyCodes::currentCode(privacy, source(), *use_.services, hasAsked(privacy));
}

Standing PrivacyHub::standing(Privacy privacy) {
    switch (answer(privacy)) {
    case Answer::allowed: return Standing::good();
    case Answer::denied:
        return Standing::broken("Open Settings\u2026",
                                "Off in Privacy & Security \u203a " + std::string(nameInNotes(privacy)) + ".");
    case Answer::notAsked: return Standing::askable("Allow\u2026");
    case Answer::allowedOnReopen: return Standing::broken("Reopen", "Allowed. Applies when the app reopens.");
    case Answer::unknown: break;
    }
    return Standing::unknown("macOS doesn't tell apps this one.");
}

Answer PrivacyHub::answer(Privacy privacy) {
    registrar_.access();
    {
        std::lock_guard lock(lock_);
        if (auto found = answers_.find(privacy); found != answers_.end()) return found->second;
    }
    start();
    int code = currentCode(privacy);
    return record(privacy, PrivacyCodes::answerOf(code), code, false);
}

Answer PrivacyHub::record(Privacy privacy, Answer answer, int raw, bool fresh) {
    std::optional<Answer> old;
    {
        std::lock_guard lock(lock_);
        auto [found, added] = answers_.try_emplace(privacy, answer);
        if (!added) {
            old = found->second;
            found->second = answer;
        }
    }
    if (old == answer) return answer;
    std::string message = (old ? "changed to " : "reads ") + std::string(rawValue(answer));
    grantLog.info(message, [&] {
        return Log::Fields{{"grant", std::string(title(privacy))},
                           {"service", std::string(serviceName(privacy))},
                           {"code", raw},
                           {"source", sourceName(source(), fresh)}};
    });
    {
        std::lock_guard lock(lock_);
        ++revision_;
    }
    registrar_.didChange();
    return answer;
}

void PrivacyHub::readAll() {
    use_.readings->readAll();
    std::vector<Privacy> known;
    {
        std::lock_guard lock(lock_);
        for (const auto& [privacy, answer] : answers_) known.push_back(privacy);
    }
    if (known.empty()) return;
    auto fresh = freshCodes();
    for (Privacy privacy : known) {
        int inProcess = currentCode(privacy);
        auto freshCode = fresh ? fresh->find(privacy) : std::map<Privacy, int>::const_iterator{};
        if (fresh && freshCode != fresh->end())
            record(privacy, PrivacyCodes::freshAnswer(privacy, inProcess, freshCode->second), freshCode->second, true);
        else
            record(privacy, PrivacyCodes::answerOf(inProcess), inProcess, false);
    }
}

void PrivacyHub::start() {
    {
        std::lock_guard lock(lock_);
        if (started_) return;
        started_ = true;
    }
    // Leeway is the platform timer's to use; a serial queue firing every
    // two seconds needs none here.
    timer_ = Platform::repeating(*use_.queue, refreshInterval, [this] {
        bool open;
        {
            std::lock_guard lock(windowLock_);
            open = use_.clock->now() < settingsWindow_;
        }
        if (open) readAll();
    });
    if (use_.events == nullptr) return;
    cameForward_ = use_.events->subscribe(std::string(Platform::didBecomeActive),
                                          [this] { watchSettings("app came forward"); });
    accessibilityChanged_ = use_.events->subscribe("com.apple.accessibility.api",
                                                   [this] { watchSettings("macOS: Accessibility changed"); });
}

void PrivacyHub::watchSettings(std::string_view why) {
    bool wasClosed;
    {
        std::lock_guard lock(windowLock_);
        auto now = use_.clock->now();
        wasClosed = now >= settingsWindow_;
        settingsWindow_ = now + windowLength;
    }
    if (wasClosed)
        grantLog.info("watching for permission changes", [&] { return Log::Fields{{"why", std::string(why)}}; });
    use_.queue->async([this] { readAll(); });
}

} // namespace PermissionGrants
