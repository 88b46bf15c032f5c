#include "Platform/Notifications.hpp"
#include "Platform/Files.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

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

std::string compact(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

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

// Asks the person when nobody has; the answer, or none while unanswered.
std::optional<bool> authorize(const std::filesystem::path& folder, unsigned options) {
    Files::createDirectories(folder);
    Files::append(folder / "requests.jsonl", compact(json{{"options", options}}) + "\n");

    NotificationSettings settings = readSettings(folder);
    if (settings.authorizationStatus != notDetermined) return settings.authorizationStatus >= authorized;
    auto answer = readPrompt(folder);
    if (!answer) return std::nullopt;
    json written =
        *answer
            ? json{{"authorizationStatus", authorized}, {"alertSetting", alertsEnabled}, {"alertStyle", bannerStyle}}
            : json{{"authorizationStatus", denied}, {"alertSetting", 0}, {"alertStyle", 0}};
    Files::writeAtomically(folder / "settings.json", compact(written) + "\n");
    return answer;
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
    if (auto error = Files::append(folder / "delivered.jsonl", compact(line) + "\n"))
        return "The notification could not be stored: " + error.message();
    return std::nullopt;
}

// Keeps the centre's state in notifications/<bundle identifier>/ and does all
// its file work on the completion queue. Queued work holds its own copy of
// the folder, so it may run after the centre is gone.
class SimulatedNotificationCenter final : public NotificationCenter {
public:
    SimulatedNotificationCenter(std::filesystem::path folder, Queue& completions)
        : folder_(std::move(folder)), completions_(completions) {}

    void getSettings(SettingsCompletion completion) override {
        completions_.async(
            [folder = folder_, completion = std::move(completion)] { completion(readSettings(folder)); });
    }

    void requestAuthorization(unsigned options, AuthorizationCompletion completion) override {
        completions_.async([folder = folder_, options, completion = std::move(completion)] {
            if (auto granted = authorize(folder, options)) completion(*granted, std::nullopt);
        });
    }

    void add(NotificationRequest request, AddCompletion completion) override {
        completions_.async([folder = folder_, request = std::move(request), completion = std::move(completion)] {
            completion(deliver(folder, request));
        });
    }

private:
    std::filesystem::path folder_;
    Queue& completions_;
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
makeSimulatedNotificationCenter(std::filesystem::path root, std::optional<std::string> bundleID, Queue& completions) {
    if (!bundleID || !isUsableBundleID(*bundleID)) return std::make_unique<UnbundledNotificationCenter>(completions);
    return std::make_unique<SimulatedNotificationCenter>(std::move(root) / "notifications" / *bundleID, completions);
}

NotificationCenter& NotificationCenter::current() {
    static auto center = makeSimulatedNotificationCenter(SimulatedHost::root(), mainBundleIdentifier(), globalQueue());
    return *center;
}

} // namespace Platform
