#pragma once

#include <PermissionGrants/PrivacyHub.hpp>
#include <PermissionGrants/Readings.hpp>
#include <TestSupport/FakeNotifications.hpp>
#include <TestSupport/FakePrivacyServices.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace PrivacyHubTesting {

using Platform::Privacy::Access;
using Platform::Privacy::Subject;
using FakeServices = TestSupport::FakePrivacyServices;

// Application events in memory: post() runs every handler of that name at
// once.
class FakeAppEvents final : public Platform::AppEvents {
public:
    std::unique_ptr<Subscription> subscribe(std::string name, Handler handler) override {
        handlers.emplace_back(std::move(name), std::move(handler));
        return std::make_unique<Subscription>();
    }
    void post(std::string_view name) override {
        for (auto& [each, handler] : handlers)
            if (each == name) handler();
    }
    void activate() override { ++activations; }

    std::vector<std::pair<std::string, Handler>> handlers;
    int activations = 0;
};

// The JSON log lines written to standard error while it lives.
class CapturedLog {
public:
    CapturedLog() : redirected_(folder_ / "stderr") {}

    // The lines so far, each an object.
    std::vector<nlohmann::json> lines() {
        std::vector<nlohmann::json> parsed;
        std::istringstream text(TestSupport::contents(folder_ / "stderr"));
        for (std::string line; std::getline(text, line);)
            if (!line.empty()) parsed.push_back(nlohmann::json::parse(line));
        return parsed;
    }
    // The messages so far.
    std::vector<std::string> messages() {
        std::vector<std::string> found;
        for (const auto& line : lines()) found.push_back(line.value("msg", ""));
        return found;
    }
    // The first line with this message, or null.
    nlohmann::json line(std::string_view message) {
        for (auto& each : lines())
            if (each.value("msg", "") == message) return each;
        return nullptr;
    }

private:
    TestSupport::TempDir folder_;
    TestSupport::ScopedEnvironment environment_{{"LOG_FORMAT", "json"}, {"LOG_LEVEL", "info"},
                                                {"GRANT_LOG_LEVEL", nullptr}};
    TestSupport::RedirectedStandardError redirected_;
};

// A hub on fakes and virtual time. Its queue, the main queue and the clock
// are one VirtualTime: nothing runs until the test advances it.
struct HubOnFakes {
    TestSupport::VirtualTime time;
    FakeServices services{time};
    FakeAppEvents events;
    TestSupport::FakeWorkspace workspace;
    PermissionGrants::Readings readings;
    std::optional<std::string> publicAPI;
    bool probes = false;
    std::optional<std::filesystem::path> executable;
    Platform::Duration probeLimit = std::chrono::seconds(5);
    std::vector<std::string> reopened;
    std::optional<Platform::CodeSigning::SigningInformation> signature;

    PermissionGrants::PrivacyHub::Dependencies dependencies() {
        PermissionGrants::PrivacyHub::Dependencies use;
        use.services = &services;
        use.queue = &time;
        use.main = &time;
        use.clock = &time;
        use.events = &events;
        use.workspace = &workspace;
        use.readings = &readings;
        use.publicAPIVariable = [this] { return publicAPI ? publicAPI->c_str() : nullptr; };
        use.probes = [this] { return probes; };
        use.executable = executable;
        use.probeLimit = probeLimit;
        use.activate = [this] { events.activate(); };
        use.reopen = [this](const std::string& why) { reopened.push_back(why); };
        use.signature = [this] { return signature; };
        return use;
    }
};

} // namespace PrivacyHubTesting
