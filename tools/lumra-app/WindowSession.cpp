#include "WindowSession.hpp"

#include "FirstRun.hpp"

#include <Grants.hpp>
#include <PermissionGrants/Views/LaunchAtLogin.hpp>

#include <chrono>

namespace LumraApp {

namespace {

using PermissionGrants::PermissionGrant;

// How often the status and the lid grant are read again.
constexpr auto pollInterval = std::chrono::seconds(1);

} // namespace

WindowSession::WindowSession(Platform::MainLoop& loop, std::function<void()> quit)
    : lid_(LidGrant::forThisMachine()), status_(std::make_shared<ServiceStatus>()) {
    std::string domain = FirstRun::appDomain();
    window_ = std::make_unique<AppWindow>(
        AppWindow::Parts{
            .backgroundService = Client::Grants::backgroundServiceGrant(),
            .lid = lid_,
            .notifications = Client::Grants::notificationsGrant(),
            .openAtLogin = PermissionGrant::LaunchAtLogin::grant(),
            .loginControls = PermissionGrant::LaunchAtLogin::Controls::live(),
            .status = status_,
            .onboarded = FirstRun::onboarded(domain),
            .rememberOnboarded = [domain] { FirstRun::rememberOnboarded(domain); },
            .context = {},
        },
        loop, [this] {
            if (screen_) screen_->invalidate();
        });
    Ink::Window::Handlers handlers{
        .quit = std::move(quit),
        .becameActive = [this] { window_->becameActive(); },
    };
    screen_ = std::make_unique<Ink::Screen>(
        loop, [this] { return window_->render(); }, std::move(handlers),
        Ink::Look::detected(Terminal::processEnvironment(), true));
    Platform::setAlertPresenter(screen_.get());
    window_->appeared();
    pollQueue_ = Platform::makeUtilityQueue();
    auto pollOnce = [this] {
        if (poll(*status_, lid_)) screen_->invalidate();
    };
    pollQueue_->async(pollOnce);
    pollTimer_ = Platform::repeating(*pollQueue_, pollInterval, pollOnce);
}

WindowSession::~WindowSession() {
    pollTimer_.reset();
    // Waits for a poll under way, which may still invalidate the screen.
    pollQueue_.reset();
    Platform::setAlertPresenter(nullptr);
    screen_.reset();
    window_.reset();
}

bool WindowSession::poll(ServiceStatus& status, LidGrant& lid) {
    bool statusChanged = status.refresh();
    bool lidChanged = lid.recheck();
    return statusChanged || lidChanged;
}

} // namespace LumraApp
