#include "Platform/Workspace.hpp"
#include "Platform/Files.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/Person.hpp"
#include "Platform/Privacy.hpp"
#include "Platform/PrivacyDatabase.hpp"
#include "Platform/SimulatedHost.hpp"

#include <mutex>
#include <unistd.h>

namespace Platform {

namespace {

constexpr std::string_view securityPanes = "x-apple.systempreferences:com.apple.preference.security?";

// Opens URLs into opened-urls.log. A Privacy & Security pane also shows
// itself to the person as a "settings" prompt about its anchor: "allow" or
// "deny" set the pane's services for the opening client, "close" leaves
// them. Like the one settings window, one pane is shown at a time: opening
// another closes the one still unanswered.
class SimulatedWorkspace final : public Workspace {
public:
    explicit SimulatedWorkspace(std::filesystem::path root) : root_(std::move(root)) {}

    void open(const URL& url) override {
        Files::append(root_ / "opened-urls.log", url.text() + "\n");
        if (url.text().starts_with(securityPanes)) show(url.text().substr(securityPanes.size()));
    }

private:
    void show(std::string anchor) {
        std::lock_guard lock(mutex_);
        // The previous window goes first, taking its open prompt with it.
        window_.reset();
        window_ = makeSimulatedPerson(root_, {mainBundleIdentifier(), ::getpid()}, globalQueue());
        std::string client = Privacy::ownClient();
        Prompt prompt{PromptKind::settings, anchor,
                      "System Settings shows Privacy & Security \u203a " + anchor + " for \u201c" + client + "\u201d.",
                      {"close", "allow", "deny"}};
        window_->ask(std::move(prompt), [root = root_, client, anchor](const std::string& answer) {
            if (answer == "close") return;
            auto value = answer == "allow" ? PrivacyDatabase::Value::allowed : PrivacyDatabase::Value::denied;
            PrivacyDatabase::applyPane(root, client, anchor, value);
        });
    }

    std::filesystem::path root_;
    std::mutex mutex_;
    std::unique_ptr<Person> window_;
};

} // namespace

std::unique_ptr<Workspace> makeSimulatedWorkspace(std::filesystem::path root) {
    return std::make_unique<SimulatedWorkspace>(std::move(root));
}

Workspace& Workspace::shared() {
    static auto workspace = makeSimulatedWorkspace(SimulatedHost::root());
    return *workspace;
}

} // namespace Platform
