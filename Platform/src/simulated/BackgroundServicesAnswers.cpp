// The person's answers to approval requests, given by hand or falling due
// from the policy, and what they make launchd do.

#include "BackgroundServicesStore.hpp"
#include "Platform/Credentials.hpp"
#include "Platform/Launchd.hpp"
#include "Platform/PropertyList.hpp"
#include "Platform/SimulatedHost.hpp"

namespace Platform::BackgroundServices::Store {

namespace {

bool isJob(const Record& record) {
    return record.handle.starts_with("agent ") || record.handle.starts_with("daemon ");
}

std::optional<std::string> labelOf(const Record& record, const std::filesystem::path& root) {
    auto definition = definitionOf(record, root);
    if (!definition) return std::nullopt;
    auto list = readPropertyList(*definition);
    auto label = list ? textValue(*list, "Label") : std::nullopt;
    if (!label || !safeName(*label)) return std::nullopt;
    return label;
}

const char* answerWord(Answer answer) { return answer == Answer::approve ? "approve" : "deny"; }

void recordAnswer(const Registration& registration, Answer answer, const char* by, const std::filesystem::path& root) {
    const Record& record = registration.record;
    recordCall({{"call", answerWord(answer)},
                {"domain", record.domain},
                {"identifier", record.identifier},
                {"handle", record.handle},
                {"bundle", record.bundle},
                {"result", 0},
                {"status", record.status},
                {"by", by}},
               root);
}

} // namespace

bool safeName(const std::string& name) {
    return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::optional<std::filesystem::path> definitionOf(const Record& record, const std::filesystem::path& root) {
    const char* folder = nullptr;
    std::string plist;
    if (record.handle.starts_with("agent ")) {
        folder = "LaunchAgents";
        plist = record.handle.substr(6);
    } else if (record.handle.starts_with("daemon ")) {
        folder = "LaunchDaemons";
        plist = record.handle.substr(7);
    }
    if (folder == nullptr || !safeName(plist) || !record.bundle.starts_with("/")) return std::nullopt;
    return SimulatedHost::hostPath(record.bundle, root) / "Contents/Library" / folder / plist;
}

void Effects::enable(Registration& registration, const std::filesystem::path& root) {
    registration.record.status = enabled;
    registration.answer.reset();
    if (!isJob(registration.record)) return;
    registration.label = labelOf(registration.record, root);
    loads.push_back(registration);
}

void Effects::unload(Registration& registration) {
    if (registration.label) bootouts.emplace_back(registration.record.domain, *registration.label);
    registration.label.reset();
}

std::optional<std::string> Effects::run(const std::filesystem::path& root) const {
    for (const auto& [domain, label] : bootouts) Launchd::bootout(domain, label, root);
    std::optional<std::string> firstError;
    for (const auto& registration : loads) {
        const Record& record = registration.record;
        // A job of this label loaded from another copy gives way.
        if (registration.label) Launchd::bootout(record.domain, *registration.label, root);
        auto definition = definitionOf(record, root);
        std::optional<std::string> error = "the job's definition cannot be named";
        if (definition)
            error = Launchd::bootstrap(record.domain, *definition, SimulatedHost::hostPath(record.bundle, root), root);
        if (error && !firstError) firstError = error;
    }
    return firstError;
}

void apply(Registration& registration, Answer answer, Effects& effects, const std::filesystem::path& root) {
    registration.answer.reset();
    if (answer == Answer::approve && registration.record.status == requiresApproval) {
        effects.enable(registration, root);
    } else if (answer == Answer::deny && registration.record.status == enabled) {
        registration.record.status = requiresApproval;
        effects.unload(registration);
    }
}

bool settle(Registrations& registrations, int64_t now, Effects& effects, const std::filesystem::path& root) {
    bool changed = false;
    for (auto& registration : registrations.valid) {
        if (!registration.answer || registration.answerAt > now) continue;
        Answer answer = *registration.answer;
        apply(registration, answer, effects, root);
        recordAnswer(registration, answer, "policy", root);
        changed = true;
    }
    return changed;
}

} // namespace Platform::BackgroundServices::Store

namespace Platform::BackgroundServices {

std::vector<Record> records(const std::filesystem::path& root) {
    Store::Lock lock(root);
    Store::Registrations registrations = Store::readRegistrations(root);
    Store::Effects effects;
    if (Store::settle(registrations, Store::nowMilliseconds(), effects, root) &&
        Store::writeRegistrations(registrations, root))
        effects.run(root);
    std::vector<Record> all;
    for (const auto& registration : registrations.valid) all.push_back(registration.record);
    return all;
}

bool answer(const std::string& identifier, const std::string& job, Answer answer, const std::filesystem::path& root) {
    Store::Lock lock(root);
    Store::Registrations registrations = Store::readRegistrations(root);
    Store::Effects effects;
    bool settled = Store::settle(registrations, Store::nowMilliseconds(), effects, root);
    std::string gui = Launchd::guiDomain(Credentials::currentUID(root));
    std::vector<Store::Registration*> matching;
    for (auto& registration : registrations.valid) {
        const Record& record = registration.record;
        bool handle = job == "login-item" ? record.handle == "login item"
                                          : record.handle == "agent " + job || record.handle == "daemon " + job;
        if (record.identifier == identifier && handle && (record.domain == gui || record.domain == Launchd::systemDomain))
            matching.push_back(&registration);
    }
    if (matching.empty()) {
        if (settled && Store::writeRegistrations(registrations, root)) effects.run(root);
        return false;
    }
    for (auto* registration : matching) Store::apply(*registration, answer, effects, root);
    if (!Store::writeRegistrations(registrations, root)) return false;
    effects.run(root);
    for (auto* registration : matching) Store::recordAnswer(*registration, answer, "person", root);
    return true;
}

} // namespace Platform::BackgroundServices
