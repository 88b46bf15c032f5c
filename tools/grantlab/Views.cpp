#include "Views.hpp"
#include "Grants.hpp"
#include "Lab.hpp"

#include <AppInstallations/System.hpp>
#include <Ink/Screen.hpp>
#include <PermissionGrants/PrivacyHub.hpp>
#include <PermissionGrants/Screens.hpp>
#include <Platform/Files.hpp>
#include <Platform/User.hpp>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace GrantLab {

using PermissionGrants::PermissionGrant;
using PermissionGrants::Screens::Invalidate;
using PermissionGrants::Screens::Shown;

namespace {

Ink::Element welcomePage() {
    return Ink::vstack({PermissionGrants::Screens::appIcon(), Ink::text("Welcome to GrantLab", Ink::Role::largeTitle),
                        Ink::text("The next pages ask for what GrantLab needs, one at a time.")},
                       1);
}

// Several chips are one piece on screen, one under another.
class Chips final : public Shown {
public:
    Chips(const std::vector<PermissionGrant>& grants, PermissionGrants::ViewContext context, Invalidate invalidate) {
        for (size_t index = 0; index < grants.size(); ++index)
            chips_.push_back(PermissionGrants::Screens::show(PermissionGrant::Chip(grants[index], {}, false, context),
                                                             invalidate, "chip:" + std::to_string(index)));
    }
    Ink::Element draw() override {
        std::vector<Ink::Element> drawn;
        for (const auto& chip : chips_) drawn.push_back(chip->draw());
        return Ink::vstack(std::move(drawn), 1);
    }
    void appeared() override {
        for (const auto& chip : chips_) chip->appeared();
    }
    void becameActive() override {
        for (const auto& chip : chips_) chip->becameActive();
    }

private:
    std::vector<std::unique_ptr<Shown>> chips_;
};

std::unique_ptr<Shown> piece(const Command& command, std::function<void()> onDone, Invalidate invalidate) {
    namespace Screens = PermissionGrants::Screens;
    PermissionGrants::ViewContext context{
        command.lower ? PermissionGrant::LetterCase::lower : PermissionGrant::LetterCase::title, {}};
    std::vector<PermissionGrant> grants = grantsFor(command);
    switch (command.mode) {
    case Mode::sheet:
        return Screens::show(PermissionGrant::Sheet("GrantLab", "What GrantLab may use on this machine.",
                                                    std::move(grants), "GrantLab works without these.",
                                                    std::move(onDone), context),
                             std::move(invalidate));
    case Mode::steps:
        return Screens::show(PermissionGrant::Steps(std::move(grants), command.welcome, std::move(onDone), context),
                             std::move(invalidate), welcomePage);
    case Mode::chip: return std::make_unique<Chips>(grants, context, std::move(invalidate));
    default: break;
    }
    return Screens::show(PermissionGrant::LaunchAtLogin("Open GrantLab at login",
                                                        PermissionGrant::LaunchAtLogin::Controls::live(), context),
                         std::move(invalidate));
}

// While a view is up, lines for standard error (the grant log's, say) go
// to ~/Library/Logs/GrantLab.log instead of over the screen.
class StandardErrorToLog {
public:
    StandardErrorToLog() {
        auto folder = Platform::homeDirectory() / "Library/Logs";
        Platform::Files::createDirectories(folder);
        int log = ::open((folder / "GrantLab.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log < 0) log = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        saved_ = ::dup(STDERR_FILENO);
        if (log >= 0) {
            ::dup2(log, STDERR_FILENO);
            ::close(log);
        }
    }
    ~StandardErrorToLog() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    StandardErrorToLog(const StandardErrorToLog&) = delete;
    StandardErrorToLog& operator=(const StandardErrorToLog&) = delete;

private:
    int saved_ = -1;
};

} // namespace

void view(const Command& command) {
    if (!Ink::Screen::available()) {
        Platform::Files::writeAll(STDERR_FILENO,
                                  "grantlab: " + std::string(modeName(command.mode)) + " needs a terminal\n");
        AppInstallation::exitNow(2);
    }
    Platform::MainLoop& loop = stoppableLoop();
    bool done = false;
    {
        StandardErrorToLog quiet;
        // The hub's timer also refreshes the readings of jobs and
        // notifications, so the views see them change while they are up.
        PermissionGrants::PrivacyHub::shared().start();
        Ink::Screen* screen = nullptr;
        std::unique_ptr<Shown> shown = piece(
            command,
            [&] {
                done = true;
                loop.stop();
            },
            [&screen] {
                if (screen) screen->invalidate();
            });
        Ink::Screen terminal(
            loop, [&shown] { return shown->draw(); },
            {.quit = [&loop] { loop.stop(); }, .becameActive = [&shown] { shown->becameActive(); }},
            Ink::Look::detected(Terminal::processEnvironment(), true));
        screen = &terminal;
        // The install-scope question of a background service is asked as
        // a dialog on this screen while it is up.
        Platform::setAlertPresenter(&terminal);
        loop.async([&shown] { shown->appeared(); });
        loop.run();
        Platform::setAlertPresenter(nullptr);
        shown.reset();
        screen = nullptr;
    }
    if (done) Platform::Files::writeAll(STDOUT_FILENO, "done\n");
    AppInstallation::exitNow(0);
}

} // namespace GrantLab
