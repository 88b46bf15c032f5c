#include "TestSupport/FakeNotifications.hpp"

namespace TestSupport {

void FakeNotificationCenter::getSettings(SettingsCompletion completion) {
    ++settingsReads;
    if (!answersSettings) return;
    completions_.async([completion = std::move(completion), settings = settings] { completion(settings); });
}

void FakeNotificationCenter::requestAuthorization(unsigned options, AuthorizationCompletion completion) {
    authorizationRequests.push_back(options);
    if (settings.authorizationStatus != 0) {
        completions_.async([completion = std::move(completion), granted = settings.authorizationStatus >= 2] {
            completion(granted, std::nullopt);
        });
        return;
    }
    if (!promptAnswer) return;
    bool granted = *promptAnswer;
    settings = granted ? Platform::NotificationSettings{2, 2, 1} : Platform::NotificationSettings{1, 0, 0};
    completions_.async([completion = std::move(completion), granted] { completion(granted, std::nullopt); });
}

void FakeNotificationCenter::add(Platform::NotificationRequest request, AddCompletion completion) {
    if (!addError) added.push_back(request);
    if (!completesAdd) return;
    completions_.async([completion = std::move(completion), error = addError] { completion(error); });
}

} // namespace TestSupport
