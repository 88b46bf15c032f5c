#include "Platform/Notifications.hpp"
#include "CompactJSON.hpp"
#include "Platform/Files.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/Person.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

#include <map>
#include <mutex>

namespace Platform {

namespace {

using nlohmann::json;

constexpr int notDetermined = 0;
constexpr int denied = 1;
constexpr int authorized = 2;
constexpr int alertsEnabled = 2;
constexpr int bannerStyle = 1;
// What a settings file that cannot be read reports: a status no build knows.
constexpr int unreadableStatus = -1;


NotificationSettings readSettings(const std::filesystem::path& folder) {
    auto text = Files::read(folder / "settings.json");
    if (!text) return {notDetermined, 0, 0};
    auto value = json::parse(*text, nullptr, false);
    if (!value.is_object() || !value.contains("authorizationStatus") ||
        !value["authorizationStatus"].is_number_integer())
        return {unreadableStatus, 0, 0};
    auto number = [&](const char* key, int fallback) {
        auto found = value.find(key);
        return found != value.end() && found->is_number_integer() ? found->get<int>() : fallback;
    };
    return {value["authorizationStatus"].get<int>(), number("alertSetting", alertsEnabled),
            number("alertStyle", bannerStyle)};
}

// The scripted answer to the prompt: granted, refused, or never answered.
std::optional<bool> readPrompt(const std::filesystem::path& folder) {
    auto text = Files::read(folder / "prompt.json");
    if (!text) return std::nullopt;
    auto value = json::parse(*text, nullptr, false);
    if (!value.is_object() || !value.contains("grant") || !value["grant"].is_boolean()) return std::nullopt;
    return value["grant"].get<bool>();
}

void storeAnswer(const std::filesystem::path& folder, bool granted) {
    json written =
        granted
            ? json{{"authorizationStatus", authorized}, {"alertSetting", alertsEnabled}, {"alertStyle", bannerStyle}}
            : json{{"authorizationStatus", denied}, {"alertSetting", 0}, {"alertStyle", 0}};
    Files::writeAtomically(folder / "settings.json", compactJSON(written) + "\n");
}

// Asks the person when nobody has: prompt.json answers at once when it is
// there, else the simulated person does, by rule or by hand. `completion`
// runs with the answer; never while the prompt stays unanswered.
void authorize(const std::filesystem::path& folder, const std::string& bundleID, unsigned options, Person* person,
               std::function<void(bool)> completion) {
    Files::createDirectories(folder);
    Files::append(folder / "requests.jsonl", compactJSON(json{{"options", options}}) + "\n");

    NotificationSettings settings = readSettings(folder);
    if (settings.authorizationStatus != notDetermined) return completion(settings.authorizationStatus >= authorized);
    if (auto answer = readPrompt(folder)) {
        storeAnswer(folder, *answer);
        return completion(*answer);
    }
    if (person == nullptr) return;
    person->ask({PromptKind::notifications, bundleID, "\u201c" + bundleID + "\u201d would like to send you notifications.",
                 {"allow", "deny"}},
                [folder, completion = std::move(completion)](const std::string& answer) {
                    storeAnswer(folder, answer == "allow");
                    completion(answer == "allow");
                });
}

// The error that refuses the notification, or none once it is delivered.
std::optional<std::string> deliver(const std::filesystem::path& folder, const NotificationRequest& request) {
    if (auto failure = Files::read(folder / "add-error.txt")) {
        while (!failure->empty() && (failure->back() == '\n' || failure->back() == '\r')) failure->pop_back();
        return failure;
    }
    int status = readSettings(folder).authorizationStatus;
    if (status == notDetermined || status == denied)
        return std::string("Notifications are not allowed for this application");
    Files::createDirectories(folder);
    json line{
        {"identifier", request.identifier}, {"title", request.title}, {"body", request.body}, {"sound", request.sound}};
    if (auto error = Files::append(folder / "delivered.jsonl", compactJSON(line) + "\n"))
        return "The notification could not be stored: " + error.message();
    return std::nullopt;
}

// Keeps the centre's state in notifications/<bundle identifier>/ and does all
// its file work on the completion queue. Queued work holds its own copy of
// the folder, so it may run after the centre is gone.
class SimulatedNotificationCenter final : public NotificationCenter {
public:
    SimulatedNotificationCenter(std::filesystem::path folder, std::string bundleID, Queue& completions,
                                Person* person)
        : folder_(std::move(folder)), bundleID_(std::move(bundleID)), completions_(completions), person_(person) {}

    void getSettings(SettingsCompletion completion) override {
        completions_.async(
            [folder = folder_, completion = std::move(completion)] { completion(readSettings(folder)); });
    }

    void requestAuthorization(unsigned options, AuthorizationCompletion completion) override {
        completions_.async([folder = folder_, bundleID = bundleID_, options, person = person_,
                            completion = std::move(completion)] {
            authorize(folder, bundleID, options, person, [completion](bool granted) { completion(granted, std::nullopt); });
        });
    }

    void add(NotificationRequest request, AddCompletion completion) override {
        completions_.async([folder = folder_, request = std::move(request), completion = std::move(completion)] {
            completion(deliver(folder, request));
        });
    }

private:
    std::filesystem::path folder_;
    std::string bundleID_;
    Queue& completions_;
    Person* person_;
};

// A process without a usable bundle identifier has no centre of its own: it
// reads as never asked and can neither prompt nor post.
class UnbundledNotificationCenter final : public NotificationCenter {
public:
    explicit UnbundledNotificationCenter(Queue& completions) : completions_(completions) {}

    void getSettings(SettingsCompletion completion) override {
        completions_.async([completion = std::move(completion)] { completion({notDetermined, 0, 0}); });
    }
    void requestAuthorization(unsigned, AuthorizationCompletion completion) override {
        completions_.async([completion = std::move(completion)] { completion(false, std::string(noBundle)); });
    }
    void add(NotificationRequest, AddCompletion completion) override {
        completions_.async([completion = std::move(completion)] { completion(std::string(noBundle)); });
    }

private:
    static constexpr std::string_view noBundle = "The process has no bundle identifier";
    Queue& completions_;
};

bool isUsableBundleID(const std::string& identifier) {
    return !identifier.empty() && identifier != "." && identifier != ".." &&
           identifier.find('/') == std::string::npos && identifier.find('\0') == std::string::npos;
}

} // namespace

std::unique_ptr<NotificationCenter>
makeSimulatedNotificationCenter(std::filesystem::path root, std::optional<std::string> bundleID, Queue& completions,
                                Person* person) {
    if (!bundleID || !isUsableBundleID(*bundleID)) return std::make_unique<UnbundledNotificationCenter>(completions);
    auto folder = std::move(root) / "notifications" / *bundleID;
    return std::make_unique<SimulatedNotificationCenter>(std::move(folder), *bundleID, completions, person);
}

NotificationCenter& NotificationCenter::current() {
    static auto center = makeSimulatedNotificationCenter(SimulatedHost::root(), mainBundleIdentifier(), globalQueue(),
                                                         &Person::current());
    return *center;
}

NotificationCenter& NotificationCenter::of(const std::string& bundleID) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<NotificationCenter>> centers;
    std::lock_guard lock(mutex);
    auto& center = centers[bundleID];
    if (!center)
        center = makeSimulatedNotificationCenter(SimulatedHost::root(), bundleID, globalQueue(), &Person::current());
    return *center;
}

} // namespace Platform
