#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The simulated Mac's privacy database as a whole: every client's stored
// decisions in privacy/tcc.json under the simulation root, and the switches
// in privacy/entry-points.json that take the private entry points away. The
// per-process view of it (what a running application reads) is
// Privacy::Services; this is what the settings, the prompts and lumra-sim
// change. docs/simulated-host.md has the files. Any thread, any process.
namespace Platform::PrivacyDatabase {

// The privacy services an application can be granted, in the settings' order.
inline constexpr std::array<std::string_view, 10> privacyServices{
    "kTCCServiceAccessibility", "kTCCServicePostEvent", "kTCCServiceListenEvent",
    "kTCCServiceAudioCapture",  "kTCCServiceScreenCapture", "kTCCServiceMicrophone",
    "kTCCServiceCamera",        "kTCCServiceSpeechRecognition", "kTCCServiceMotion",
    "kTCCServiceSystemPolicyAllFiles"};
// Apple Events consent, kept per target bundle identifier.
inline constexpr std::string_view appleEvents = "kTCCServiceAppleEvents";
inline constexpr std::string_view accessibility = "kTCCServiceAccessibility";
inline constexpr std::string_view postEvent = "kTCCServicePostEvent";
// The distributed notification posted when accessibility changes.
inline constexpr std::string_view accessibilityChanged = "com.apple.accessibility.api";

// Who made a change.
inline constexpr std::string_view bySettings = "settings";
inline constexpr std::string_view byPrompt = "prompt";

// One of the ten privacy services, or Apple Events.
bool isService(std::string_view service);

// A stored decision; no entry means not determined.
enum class Value { allowed, denied, restricted };
std::string_view name(Value value);
std::optional<Value> valueNamed(std::string_view name);

struct Entry {
    std::string client;
    std::string service;
    std::string target; // Apple Events only: the target's bundle identifier
    Value value = Value::denied;
    std::string by; // "settings" or "prompt"
    std::string at; // UTC, ISO 8601
};

// Every entry, in the order they were first stored; none when the file is
// missing or damaged.
std::vector<Entry> entries(const std::filesystem::path& root);

// The decision for one client's service (and target) among `all`.
std::optional<Value> lookup(const std::vector<Entry>& all, std::string_view client, std::string_view service,
                            std::string_view target = {});

// Stores `value` for the client's service (and target), or removes the entry
// when there is none, noting who did it and when. A change of accessibility
// posts accessibilityChanged. Nothing on success, else why not: "the privacy
// database <path> is damaged" (it is then left as it is) or "the privacy
// database <path> cannot be written: <reason>".
std::optional<std::string> store(const std::filesystem::path& root, std::string_view client,
                                 std::string_view service, std::string_view target, std::optional<Value> value,
                                 std::string_view by);

// The person's answer in a settings pane (an anchor such as
// "Privacy_Camera"): sets the pane's services for the client by settings.
// The Automation pane sets every target the client has an entry for. An
// anchor of no privacy pane changes nothing.
std::optional<std::string> applyPane(const std::filesystem::path& root, std::string_view client,
                                     std::string_view anchor, Value value);

// The services a pane shows: Privacy_Accessibility holds Accessibility and
// posting events, every other privacy pane one service, Privacy_Automation
// Apple Events; nothing for an anchor of no privacy pane.
std::vector<std::string_view> servicesOfPane(std::string_view anchor);

// The private entry points of the machine, and what the disclaim answers.
struct EntryPoints {
    bool preflight = true;
    bool request = true;
    bool disclaim = true;
    int disclaimResult = 0; // not 0: the disclaim fails with it

    bool operator==(const EntryPoints&) const = default;
};
// A missing or damaged file: everything present and working.
EntryPoints entryPoints(const std::filesystem::path& root);
std::optional<std::string> setEntryPoints(const std::filesystem::path& root, const EntryPoints& points);

} // namespace Platform::PrivacyDatabase
