#pragma once

#include <Platform/Notifications.hpp>
#include <Platform/Workspace.hpp>

#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

// A notification centre in memory. Completions go through `completions`
// (usually a VirtualTime), so the test decides when they arrive. Set the
// public fields to script the platform, read them to see what it was asked.
class FakeNotificationCenter final : public Platform::NotificationCenter {
public:
    explicit FakeNotificationCenter(Platform::Queue& completions) : completions_(completions) {}

    void getSettings(SettingsCompletion completion) override;
    void requestAuthorization(unsigned options, AuthorizationCompletion completion) override;
    void add(Platform::NotificationRequest request, AddCompletion completion) override;

    Platform::NotificationSettings settings;
    bool answersSettings = true;         // false: settings reads never complete
    std::optional<bool> promptAnswer;    // the person's answer; none: never answers
    std::optional<std::string> addError; // adding fails with this description
    bool completesAdd = true;            // false: the add completion never arrives

    int settingsReads = 0;
    std::vector<unsigned> authorizationRequests;
    std::vector<Platform::NotificationRequest> added;

private:
    Platform::Queue& completions_;
};

// Records the URLs it is asked to open.
class FakeWorkspace final : public Platform::Workspace {
public:
    void open(const Platform::URL& url) override { opened.push_back(url.text()); }
    std::vector<std::string> opened;
};

// Runs each task at once on the caller's thread: a platform that has already
// answered by the time the call returns.
class ImmediateQueue final : public Platform::Queue {
public:
    void async(Platform::Task task) override { task(); }
    void asyncAfter(Platform::Duration, Platform::Task task) override { task(); }
};

} // namespace TestSupport
