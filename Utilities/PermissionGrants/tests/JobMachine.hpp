#pragma once

// Jobs of a bundle in a temporary folder, against an in-memory registry, a
// launchctl that knows nothing and virtual time, for the grant layer's tests.

#include <AppInstallations/Job.hpp>
#include <PermissionGrants/JobGrant.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/TempDir.hpp>
#include <TestSupport/VirtualTime.hpp>

#include <atomic>
#include <mutex>
#include <set>

namespace PermissionGrantsTests {

namespace BS = Platform::BackgroundServices;
using AppInstallation::Job;
using AppInstallation::Scope;

// The registry's status stays until a registration sets `afterRegister`;
// registering answers `refusal` when there is one.
class FakeRegistry final : public BS::Registry {
public:
    std::atomic<int32_t> current{BS::notRegistered};
    std::optional<int32_t> afterRegister;
    std::optional<BS::Failure> refusal;
    std::optional<BS::Failure> unregisterRefusal;
    std::atomic<int> registers{0}, unregisters{0}, opened{0};
    std::mutex lock;

    int32_t status(const BS::Handle&) override { return current; }
    std::optional<BS::Failure> registerService(const BS::Handle&) override {
        std::lock_guard guard(lock);
        ++registers;
        if (refusal) return refusal;
        if (afterRegister) current = *afterRegister;
        return std::nullopt;
    }
    std::optional<BS::Failure> unregisterService(const BS::Handle&) override {
        ++unregisters;
        if (!unregisterRefusal) current = BS::notRegistered;
        return unregisterRefusal;
    }
    void openSystemSettingsLoginItems() override { ++opened; }
};

struct JobMachine {
    TestSupport::TempDir folder;
    TestSupport::VirtualTime time;
    FakeRegistry registry;
    AppInstallation::Home home{AppInstallation::Home::Installed{Scope::everyone}};
    std::atomic<bool> admin{true};
    std::atomic<bool> answering{false};
    std::string bundle = (folder / "Test.app").string();

    // Copies installed in these scopes, and the moves asked for.
    std::set<Scope> copies;
    std::vector<std::pair<Scope, std::vector<std::string>>> moves;
    std::function<void()> duringMove;

    JobMachine() {
        define("LaunchAgents/agent.plist", "app.test.agent");
        define("LaunchDaemons/daemon.plist", "app.test.daemon");
    }
    void define(const std::string& file, const std::string& label) const {
        TestSupport::writeFile(std::filesystem::path(bundle) / "Contents/Library" / file,
                               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Label</key><string>" + label +
                                   "</string></dict></plist>");
    }
    std::shared_ptr<AppInstallation::JobSystem> system() {
        auto made = std::make_shared<AppInstallation::JobSystem>();
        made->registry = [this]() -> BS::Registry& { return registry; };
        made->clock = &time;
        made->sleeper = &time;
        made->run = [](const std::string&, const std::vector<std::string>&) {
            return AppInstallation::ToolResult{113, ""};
        };
        made->bundle = [this] { return std::optional<std::string>(bundle); };
        made->home = [this] { return home; };
        made->userIsAdmin = [this] { return admin.load(); };
        made->uid = [] { return 501u; };
        made->homeFolder = [this] { return (folder / "home").string(); };
        return made;
    }
    // An agent answering while `answering` is set, a daemon, the login item.
    Job agent(const std::string& name) {
        return Job(Job::Kind::agent("agent.plist"), name, [this] { return answering.load(); }, {}, system());
    }
    Job daemon(const std::string& name) { return Job(Job::Kind::daemon("daemon.plist"), name, {}, {}, system()); }
    Job loginItem() { return Job::loginItem(system()); }

    PermissionGrants::JobGrant::Relocation relocation() {
        return {[this](const std::vector<Scope>& in) -> std::optional<std::string> {
                    for (Scope scope : in)
                        if (copies.contains(scope)) return "/Applications/Test.app";
                    return std::nullopt;
                },
                [this](Scope to, const std::vector<Job>& turningOn) {
                    std::vector<std::string> names;
                    for (const auto& job : turningOn) names.push_back(job.name());
                    moves.emplace_back(to, names);
                    if (duringMove) duringMove();
                }};
    }
};

} // namespace PermissionGrantsTests
