#pragma once

#include "Platform/BackgroundServices.hpp"
#include "Platform/Files.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The registry's files under background/ in the simulation root, read and
// written whole under background/lock. Damaged files read as empty; entries
// that cannot be read are written back as they were, so nothing is lost.
namespace Platform::BackgroundServices::Store {

// One registration with what the registry keeps beside the public record.
struct Registration {
    Record record;
    std::optional<std::string> label; // loaded into launchd under this label
    std::optional<Answer> answer;     // the person's answer, due at answerAt
    int64_t answerAt = 0;             // milliseconds since the epoch, wall clock
};

struct Registrations {
    std::vector<Registration> valid;
    std::vector<nlohmann::json> unreadable;

    Registration* find(const std::string& domain, const std::string& identifier, const std::string& handle);
    void remove(const Registration* registration);
};

// Around every read-modify-write of the registry's files.
class Lock : public Files::Lock {
public:
    explicit Lock(const std::filesystem::path& root);
};

Registrations readRegistrations(const std::filesystem::path& root);
bool writeRegistrations(const Registrations& registrations, const std::filesystem::path& root);

// Takes the next scripted failure of the call, if one is queued.
std::optional<int32_t> takeFailure(Call call, const std::filesystem::path& root);

// Appends one line to background/calls.jsonl.
void recordCall(nlohmann::json line, const std::filesystem::path& root);

int64_t nowMilliseconds();

// A plist name or label that may become part of a path: not empty, no "/",
// no leading ".", no NUL.
bool safeName(const std::string& name);

// The definition a registration's job loads from: inside the copy it was
// registered from; nothing for the login item or a name that is not safe.
std::optional<std::filesystem::path> definitionOf(const Record& record, const std::filesystem::path& root);

// What launchd must do once the registry's file says so.
struct Effects {
    std::vector<std::pair<std::string, std::string>> bootouts; // domain, label
    std::vector<Registration> loads;

    // Enables the registration and loads its job (nothing for the login item).
    void enable(Registration& registration, const std::filesystem::path& root);
    // Boots out the registration's job, if it was loaded.
    void unload(Registration& registration);
    // Boot-outs first; answers the first error of loading a job.
    std::optional<std::string> run(const std::filesystem::path& root) const;
};

// Applies the person's answer to a registration.
void apply(Registration& registration, Answer answer, Effects& effects, const std::filesystem::path& root);

// Applies the answers that fell due by `now`; true when any did. Each is
// recorded as a call "approve" or "deny" by "policy".
bool settle(Registrations& registrations, int64_t now, Effects& effects, const std::filesystem::path& root);

} // namespace Platform::BackgroundServices::Store
