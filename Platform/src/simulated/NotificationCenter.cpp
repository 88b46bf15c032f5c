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

// Keeps the centre's state in notifications/<bundle identifier>/ and does all
// its file work on the completion queue, one request at a time.
class SimulatedNotificationCenter final : public NotificationCenter {
public:
    SimulatedNotificationCenter(std::filesystem::path folder, Queue& completions)
        : folder_(std::move(folder)), completions_(completions) {}

    void getSettings(SettingsCompletion completion) override {
        completions_.async([this, completion = std::move(completion)] { completion(readSettings()); });
    }

    void requestAuthorization(unsigned options, AuthorizationCompletion completion) override {
        completions_.async([this, options, completion = std::move(completion)] {
            Files::createDirectories(folder_);
            Files::append(folder_ / "requests.jsonl", compact(json{{"options", options}}) + "\n");

            NotificationSettings settings = readSettings();
            if (settings.authorizationStatus != notDetermined) {
                completion(settings.authorizationStatus >= authorized, std::nullopt);
                return;
            }
            auto answer = readPrompt();
            if (!answer) return; // the person never answers
            json written = *answer ? json{{"authorizationStatus", authorized},
                                          {"alertSetting", alertsEnabled},
                                          {"alertStyle", bannerStyle}}
                                   : json{{"authorizationStatus", denied}, {"alertSetting", 0}, {"alertStyle", 0}};
            Files::writeAtomically(folder_ / "settings.json", compact(written) + "\n");
            completion(*answer, std::nullopt);
        });
    }

    void add(NotificationRequest request, AddCompletion completion) override {
        completions_.async([this, request = std::move(request), completion = std::move(completion)] {
            completion(deliver(request));
        });
    }

private:
    NotificationSettings readSettings() const {
        auto text = Files::read(folder_ / "settings.json");
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
    std::optional<bool> readPrompt() const {
        auto text = Files::read(folder_ / "prompt.json");
        if (!text) return std::nullopt;
        auto value = json::parse(*text, nullptr, false);
        if (!value.is_object() || !value.contains("grant") || !value["grant"].is_boolean()) return std::nullopt;
        return value["grant"].get<bool>();
    }

    std::optional<std::string> deliver(const NotificationRequest& request) const {
        if (auto failure = Files::read(folder_ / "add-error.txt")) {
            while (!failure->empty() && (failure->back() == '\n' || failure->back() == '\r')) failure->pop_back();
            return failure;
        }
        int status = readSettings().authorizationStatus;
        if (status == notDetermined || status == denied)
            return std::string("Notifications are not allowed for this application");
        Files::createDirectories(folder_);
        json line{{"identifier", request.identifier},
                  {"title", request.title},
                  {"body", request.body},
                  {"sound", request.sound}};
        if (auto error = Files::append(folder_ / "delivered.jsonl", compact(line) + "\n"))
            return "The notification could not be stored: " + error.message();
        return std::nullopt;
    }

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

std::unique_ptr<NotificationCenter> makeSimulatedNotificationCenter(std::filesystem::path root,
                                                                    std::optional<std::string> bundleID,
                                                                    Queue& completions) {
    if (!bundleID || !isUsableBundleID(*bundleID)) return std::make_unique<UnbundledNotificationCenter>(completions);
    return std::make_unique<SimulatedNotificationCenter>(std::move(root) / "notifications" / *bundleID, completions);
}

NotificationCenter& NotificationCenter::current() {
    static auto center = makeSimulatedNotificationCenter(SimulatedHost::root(), mainBundleIdentifier(), globalQueue());
    return *center;
}

} // namespace Platform
