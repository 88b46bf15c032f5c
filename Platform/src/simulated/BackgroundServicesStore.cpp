#include "BackgroundServicesStore.hpp"
#include "CompactJSON.hpp"
#include "Platform/ISODate.hpp"
#include "Platform/Launchd.hpp"

#include <algorithm>
#include <chrono>
#include <limits>

namespace Platform::BackgroundServices::Store {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

fs::path folder(const fs::path& root) { return root / "background"; }
fs::path registryFile(const fs::path& root) { return folder(root) / "registry.json"; }
fs::path failuresFile(const fs::path& root) { return folder(root) / "failures.json"; }

json readJSON(const fs::path& file) {
    auto text = Files::read(file);
    return text ? json::parse(*text, nullptr, false) : json();
}

bool writeJSON(const fs::path& file, const json& value) {
    Files::createDirectories(file.parent_path());
    return !Files::writeAtomically(file, compactJSON(value) + "\n");
}

std::optional<std::string> text(const json& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

std::optional<Registration> parse(const json& entry) {
    if (!entry.is_object()) return std::nullopt;
    auto domain = text(entry, "domain"), identifier = text(entry, "identifier"), handle = text(entry, "handle"),
         bundle = text(entry, "bundle");
    auto status = entry.find("status");
    if (!domain || !identifier || !handle || !bundle || status == entry.end() || !status->is_number_integer())
        return std::nullopt;
    auto number = status->get<int64_t>();
    if (number != enabled && number != requiresApproval) return std::nullopt;
    // The domain and label reach launchd: a hand-edited file must not make
    // them paths.
    if (!Launchd::domainUID(*domain)) return std::nullopt;
    Registration registration{{*domain, *identifier, *handle, static_cast<int32_t>(number), *bundle}, {}, {}, 0};
    registration.label = text(entry, "label");
    if (registration.label && !safeName(*registration.label)) registration.label.reset();
    auto answer = text(entry, "answer");
    auto at = entry.find("answerAt");
    if (answer && (*answer == "approve" || *answer == "deny") && at != entry.end() && at->is_number_integer()) {
        registration.answer = *answer == "approve" ? Answer::approve : Answer::deny;
        registration.answerAt = at->get<int64_t>();
    }
    return registration;
}

json encode(const Registration& registration) {
    const Record& record = registration.record;
    json entry{{"domain", record.domain},     {"identifier", record.identifier}, {"handle", record.handle},
               {"status", record.status},     {"bundle", record.bundle}};
    if (registration.label) entry["label"] = *registration.label;
    if (registration.answer) {
        entry["answer"] = *registration.answer == Answer::approve ? "approve" : "deny";
        entry["answerAt"] = registration.answerAt;
    }
    return entry;
}

const char* callKey(Call call) { return call == Call::registration ? "register" : "unregister"; }

std::string utcNow() {
    return ISODate::format(std::chrono::system_clock::now());
}

} // namespace

Registration* Registrations::find(const std::string& domain, const std::string& identifier,
                                  const std::string& handle) {
    for (auto& registration : valid) {
        const Record& record = registration.record;
        if (record.domain == domain && record.identifier == identifier && record.handle == handle)
            return &registration;
    }
    return nullptr;
}

void Registrations::remove(const Registration* registration) {
    std::erase_if(valid, [&](const Registration& each) { return &each == registration; });
}

Lock::Lock(const fs::path& root) : Files::Lock(folder(root) / "lock") {}

Registrations readRegistrations(const fs::path& root) {
    Registrations registrations;
    json document = readJSON(registryFile(root));
    auto list = document.is_object() ? document.find("registrations") : document.end();
    if (!document.is_object() || list == document.end() || !list->is_array()) return registrations;
    for (const json& entry : *list) {
        if (auto registration = parse(entry))
            registrations.valid.push_back(std::move(*registration));
        else
            registrations.unreadable.push_back(entry);
    }
    return registrations;
}

bool writeRegistrations(const Registrations& registrations, const fs::path& root) {
    json list = json::array();
    for (const auto& registration : registrations.valid) list.push_back(encode(registration));
    for (const auto& entry : registrations.unreadable) list.push_back(entry);
    return writeJSON(registryFile(root), json{{"registrations", list}});
}

std::optional<int32_t> takeFailure(Call call, const fs::path& root) {
    json failures = readJSON(failuresFile(root));
    if (!failures.is_object()) return std::nullopt;
    auto queue = failures.find(callKey(call));
    if (queue == failures.end() || !queue->is_array()) return std::nullopt;
    while (!queue->empty()) {
        json& first = queue->front();
        auto code = first.is_object() ? first.find("code") : first.end();
        auto times = first.is_object() ? first.find("times") : first.end();
        bool usable = first.is_object() && code != first.end() && code->is_number_integer() &&
                      code->get<int64_t>() >= std::numeric_limits<int32_t>::min() &&
                      code->get<int64_t>() <= std::numeric_limits<int32_t>::max();
        int64_t left = times != first.end() && times->is_number_integer() ? times->get<int64_t>() : 1;
        if (!usable || left < 1) {
            queue->erase(queue->begin());
            continue;
        }
        auto failure = static_cast<int32_t>(code->get<int64_t>());
        if (left == 1)
            queue->erase(queue->begin());
        else
            first["times"] = left - 1;
        writeJSON(failuresFile(root), failures);
        return failure;
    }
    return std::nullopt;
}

void recordCall(json line, const fs::path& root) {
    line["at"] = utcNow();
    Files::createDirectories(folder(root));
    Files::append(folder(root) / "calls.jsonl", compactJSON(line) + "\n");
}


int64_t nowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace Platform::BackgroundServices::Store

namespace Platform::BackgroundServices {

bool queueFailure(Call call, int32_t code, unsigned times, const std::filesystem::path& root) {
    if (times == 0 || code == 0) return false; // 0 would read as success
    Store::Lock lock(root);
    auto file = Store::failuresFile(root);
    nlohmann::json failures = Store::readJSON(file);
    if (!failures.is_object()) failures = nlohmann::json::object();
    auto& queue = failures[Store::callKey(call)];
    if (!queue.is_array()) queue = nlohmann::json::array();
    queue.push_back({{"code", code}, {"times", times}});
    return Store::writeJSON(file, failures);
}

bool clearFailures(const std::filesystem::path& root) {
    Store::Lock lock(root);
    return Store::writeJSON(Store::failuresFile(root), nlohmann::json::object());
}

} // namespace Platform::BackgroundServices
