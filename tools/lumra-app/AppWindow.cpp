#include "AppWindow.hpp"

#include <PermissionGrants/Views/LaunchAtLogin.hpp>
#include <PermissionGrants/Views/Sheet.hpp>
#include <PermissionGrants/Views/Steps.hpp>

#include <utility>

namespace LumraApp {

namespace {

using PermissionGrants::PermissionGrant;
namespace Screens = PermissionGrants::Screens;

std::vector<Ink::Element> lines(const std::string& text) {
    std::vector<Ink::Element> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        result.push_back(end == start ? Ink::spacer() : Ink::text(text.substr(start, end - start)));
        start = end + 1;
    }
    return result;
}

// What the app does, in a few plain words, before it asks for anything.
Ink::Element welcome() {
    return Ink::vstack({Ink::text("Welcome to Lumra", Ink::Role::largeTitle),
                        Ink::text("Lumra keeps this Mac awake for as long as you need it: through a download, a "
                                  "build or a talk, even with the lid closed. When you are done, sleep comes back."),
                        Ink::text("The next pages turn on what it needs.", Ink::Role::secondary)},
                       1);
}

// Shows the lid grant's command while the window lives.
std::function<void()> showingCommand(std::weak_ptr<AppWindow*> weak) {
    return [weak = std::move(weak)] {
        if (auto self = weak.lock()) (*self)->showGrantCommand();
    };
}

} // namespace

AppWindow::AppWindow(Parts parts, Platform::Queue& loop, Screens::Invalidate invalidate)
    : parts_(std::move(parts)), loop_(loop), invalidate_(std::move(invalidate)),
      self_(std::make_shared<AppWindow*>(this)), lidGrant_(parts_.lid.grant(showingCommand(self_))) {
    if (parts_.onboarded) {
        showWindowProper();
        return;
    }
    std::weak_ptr<AppWindow*> weak = self_;
    PermissionGrant::Steps steps(
        {parts_.backgroundService, lidGrant_, parts_.notifications, parts_.openAtLogin}, true,
        [this, weak] {
            // The onboarding calls this from its own button press (or its
            // advance): it is replaced once that is over.
            loop_.async([weak] {
                if (auto self = weak.lock()) (*self)->finishOnboarding();
            });
        },
        parts_.context);
    steps_ = Screens::show(std::move(steps), invalidate_, welcome);
}

AppWindow::~AppWindow() { self_.reset(); }

void AppWindow::finishOnboarding() {
    if (!steps_) return;
    parts_.rememberOnboarded();
    steps_.reset();
    showWindowProper();
    if (shown_) {
        sheet_->appeared();
        loginSwitch_->appeared();
    }
    invalidate_();
}

void AppWindow::showWindowProper() {
    // The sheet's button closes nothing here: the window stays as it is,
    // and pressing it only confirms the onboarding as done.
    PermissionGrant::Sheet sheet("Lumra", "Keeps this Mac awake for as long as you need it.",
                                 {parts_.backgroundService, lidGrant_, parts_.notifications},
                                 "Lumra works without these; each one adds something.",
                                 [remember = parts_.rememberOnboarded] { remember(); }, parts_.context);
    sheet_ = Screens::show(std::move(sheet), invalidate_);
    loginSwitch_ =
        Screens::show(PermissionGrant::LaunchAtLogin("Open at login", parts_.loginControls, parts_.context),
                      invalidate_, parts_.openAtLogin);
}

void AppWindow::appeared() {
    shown_ = true;
    for (auto* shown : {steps_.get(), sheet_.get(), loginSwitch_.get()})
        if (shown) shown->appeared();
}

void AppWindow::becameActive() {
    for (auto* shown : {steps_.get(), sheet_.get(), loginSwitch_.get()})
        if (shown) shown->becameActive();
}

void AppWindow::showGrantCommand() {
    if (commandShown_) return;
    commandShown_ = true;
    invalidate_();
}

Ink::Element AppWindow::statusSection() const {
    auto text = parts_.status->text();
    if (!text) return Ink::section("Service", {Ink::text("Asking lumrad…", Ink::Role::secondary)});
    return Ink::section("Service", lines(*text));
}

Ink::Element AppWindow::render() {
    std::vector<Ink::Element> parts;
    if (steps_) {
        parts.push_back(steps_->draw());
    } else {
        parts.push_back(statusSection());
        parts.push_back(sheet_->draw());
        parts.push_back(loginSwitch_->draw());
    }
    if (commandShown_ && parts_.lid.standing() != PermissionGrants::Standing::good())
        parts.push_back(Ink::vstack({Ink::text("Run this in a terminal, as an admin (sudo asks for your password):",
                                               Ink::Role::caption),
                                     Ink::commandLine("lid-grant-command", std::string(LidGrant::command))}));
    return Ink::vstack(std::move(parts), 1);
}

} // namespace LumraApp
