#include "Platform/PrivacyDatabase.hpp"
#include "CompactJSON.hpp"
#include "Platform/AppEvents.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Files.hpp"
#include "Platform/ISODate.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace Platform::PrivacyDatabase {

namespace {

using nlohmann::json;

std::filesystem::path folder(const std::filesystem::path& root) { return root / "privacy"; }
std::filesystem::path databaseFile(const std::filesystem::path& root) { return folder(root) / "tcc.json"; }
std::filesystem::path entryPointsFile(const std::filesystem::path& root) { return folder(root) / "entry-points.json"; }


constexpr std::array<std::string_view, 3> valueNames{"allowed", "denied", "restricted"};

struct Pane {
    std::string_view anchor;
    std::vector<std::string_view> services;
};

const std::vector<Pane>& panes() {
    static const std::vector<Pane> all{
        {"Privacy_Accessibility", {accessibility, postEvent}},
        {"Privacy_ListenEvent", {"kTCCServiceListenEvent"}},
        {"Privacy_AudioCapture", {"kTCCServiceAudioCapture"}},
        {"Privacy_ScreenCapture", {"kTCCServiceScreenCapture"}},
        {"Privacy_Microphone", {"kTCCServiceMicrophone"}},
        {"Privacy_Camera", {"kTCCServiceCamera"}},
        {"Privacy_SpeechRecognition", {"kTCCServiceSpeechRecognition"}},
        {"Privacy_Motion", {"kTCCServiceMotion"}},
        {"Privacy_AllFiles", {"kTCCServiceSystemPolicyAllFiles"}},
        {"Privacy_Automation", {appleEvents}},
    };
    return all;
}

std::string textOf(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

bool sameKey(const json& entry, std::string_view client, std::string_view service, std::string_view target) {
    return entry.is_object() && textOf(entry, "client") == client && textOf(entry, "service") == service &&
           textOf(entry, "target") == target;
}

// The whole file, or none when it is there but not a database. A missing
// file is an empty database.
std::optional<json> load(const std::filesystem::path& root) {
    auto text = Files::read(databaseFile(root));
    if (!text) {
        std::error_code error;
        if (std::filesystem::exists(databaseFile(root), error)) return std::nullopt;
        return json{{"entries", json::array()}};
    }
    json document = json::parse(*text, nullptr, false);
    if (!document.is_object() || !document.contains("entries") || !document["entries"].is_array())
        return std::nullopt;
    return document;
}

std::optional<std::string> save(const std::filesystem::path& root, const json& document) {
    Files::createDirectories(folder(root));
    if (auto error = Files::writeAtomically(databaseFile(root), document.dump(2) + "\n"))
        return "the privacy database " + databaseFile(root).string() + " cannot be written: " + error.message();
    return std::nullopt;
}

std::string damaged(const std::filesystem::path& root) {
    return "the privacy database " + databaseFile(root).string() + " is damaged";
}

// Changes one entry inside `document`; true when the stored value changed.
bool change(json& document, std::string_view client, std::string_view service, std::string_view target,
            std::optional<Value> value, std::string_view by) {
    json& list = document["entries"];
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const json& entry) { return sameKey(entry, client, service, target); });
    std::optional<Value> before;
    if (found != list.end()) before = valueNamed(textOf(*found, "value"));
    if (!value) {
        if (found == list.end()) return false;
        list.erase(found);
        return true;
    }
    json entry{{"client", client}, {"service", service}};
    if (!target.empty()) entry["target"] = target;
    entry["value"] = name(*value);
    entry["by"] = by;
    entry["at"] = ISODate::format(hostClock().now());
    if (found == list.end())
        list.push_back(std::move(entry));
    else
        *found = std::move(entry);
    return before != value;
}

} // namespace

bool isService(std::string_view service) {
    return service == appleEvents ||
           std::find(privacyServices.begin(), privacyServices.end(), service) != privacyServices.end();
}

std::string_view name(Value value) { return valueNames[static_cast<size_t>(value)]; }

std::optional<Value> valueNamed(std::string_view text) {
    for (size_t index = 0; index < valueNames.size(); ++index)
        if (valueNames[index] == text) return static_cast<Value>(index);
    return std::nullopt;
}

std::vector<Entry> entries(const std::filesystem::path& root) {
    std::vector<Entry> found;
    auto document = load(root);
    if (!document) return found;
    for (const json& entry : (*document)["entries"]) {
        if (!entry.is_object()) continue;
        auto value = valueNamed(textOf(entry, "value"));
        std::string client = textOf(entry, "client"), service = textOf(entry, "service");
        if (!value || client.empty() || service.empty()) continue; // a hand-edited line that says nothing
        found.push_back({std::move(client), std::move(service), textOf(entry, "target"), *value, textOf(entry, "by"),
                         textOf(entry, "at")});
    }
    return found;
}

std::optional<Value> lookup(const std::vector<Entry>& all, std::string_view client, std::string_view service,
                            std::string_view target) {
    for (const auto& entry : all)
        if (entry.client == client && entry.service == service && entry.target == target) return entry.value;
    return std::nullopt;
}

std::optional<std::string> store(const std::filesystem::path& root, std::string_view client,
                                 std::string_view service, std::string_view target, std::optional<Value> value,
                                 std::string_view by) {
    bool changed = false;
    {
        Files::Lock lock(folder(root) / "lock");
        auto document = load(root);
        if (!document) return damaged(root);
        changed = change(*document, client, service, target, value, by);
        if (auto error = save(root, *document)) return error;
    }
    if (changed && service == accessibility) postAppEvent(root, accessibilityChanged);
    return std::nullopt;
}

std::vector<std::string_view> servicesOfPane(std::string_view anchor) {
    for (const auto& pane : panes())
        if (pane.anchor == anchor) return pane.services;
    return {};
}

std::optional<std::string> applyPane(const std::filesystem::path& root, std::string_view client,
                                     std::string_view anchor, Value value) {
    auto services = servicesOfPane(anchor);
    if (services.empty()) return std::nullopt;
    bool accessibilityChangedHere = false;
    {
        Files::Lock lock(folder(root) / "lock");
        auto document = load(root);
        if (!document) return damaged(root);
        if (services.front() == appleEvents) {
            // The Automation pane lists only the targets the client asked for.
            for (json& entry : (*document)["entries"])
                if (entry.is_object() && textOf(entry, "client") == client && textOf(entry, "service") == appleEvents)
                    change(*document, client, appleEvents, textOf(entry, "target"), value, bySettings);
        } else {
            for (auto service : services)
                if (change(*document, client, service, {}, value, bySettings) && service == accessibility)
                    accessibilityChangedHere = true;
        }
        if (auto error = save(root, *document)) return error;
    }
    if (accessibilityChangedHere) postAppEvent(root, accessibilityChanged);
    return std::nullopt;
}

EntryPoints entryPoints(const std::filesystem::path& root) {
    EntryPoints points;
    auto text = Files::read(entryPointsFile(root));
    if (!text) return points;
    json value = json::parse(*text, nullptr, false);
    if (!value.is_object()) return points;
    auto absent = value.find("absent");
    if (absent != value.end() && absent->is_array())
        for (const json& each : *absent) {
            if (each == "preflight") points.preflight = false;
            if (each == "request") points.request = false;
            if (each == "disclaim") points.disclaim = false;
        }
    auto result = value.find("disclaimResult");
    if (result != value.end() && result->is_number_integer()) {
        auto number = result->get<int64_t>();
        if (number >= INT32_MIN && number <= INT32_MAX) points.disclaimResult = static_cast<int>(number);
    }
    return points;
}

std::optional<std::string> setEntryPoints(const std::filesystem::path& root, const EntryPoints& points) {
    json absent = json::array();
    if (!points.preflight) absent.push_back("preflight");
    if (!points.request) absent.push_back("request");
    if (!points.disclaim) absent.push_back("disclaim");
    Files::createDirectories(folder(root));
    if (auto error = Files::writeAtomically(entryPointsFile(root),
                                            compactJSON({{"absent", absent}, {"disclaimResult", points.disclaimResult}}) +
                                                "\n"))
        return "the entry points " + entryPointsFile(root).string() + " cannot be written: " + error.message();
    return std::nullopt;
}

} // namespace Platform::PrivacyDatabase
