#pragma once

#include "LidGrant.hpp"
#include "ServiceStatus.hpp"

#include <Ink/Element.hpp>
#include <PermissionGrants/Screens.hpp>
#include <Platform/Dispatch.hpp>

#include <functional>
#include <memory>

namespace LumraApp {

// What the app's window shows, headless: at the first run the onboarding
// (a welcome page, then the background service, sleep with the lid closed,
// notifications and open at login); once it is done, and at every later
// start, the service's status over the sheet of its grants and the "Open
// at login" switch. Main thread only; Ink::Screen (or a test's
// Ink::Window) draws render().
class AppWindow {
public:
    struct Parts {
        PermissionGrants::PermissionGrant backgroundService;
        LidGrant lid;
        PermissionGrants::PermissionGrant notifications;
        // The login item as the onboarding asks for it, and the switch's way
        // to it afterwards.
        PermissionGrants::PermissionGrant openAtLogin;
        PermissionGrants::PermissionGrant::LaunchAtLogin::Controls loginControls;
        std::shared_ptr<const ServiceStatus> status;
        bool onboarded = false;
        // Remembers that the onboarding is done.
        std::function<void()> rememberOnboarded;
        PermissionGrants::ViewContext context;
    };

    // `loop` runs the switch from the onboarding to the window proper, out
    // of the onboarding's own button press; `invalidate` asks for a redraw.
    AppWindow(Parts parts, Platform::Queue& loop, PermissionGrants::Screens::Invalidate invalidate);
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    Ink::Element render();
    // The window came into view.
    void appeared();
    // The application came to the front (the terminal got focus, or the
    // system says so).
    void becameActive();

    // The lid grant's action: the command that installs it appears under
    // the grants, until the grant stands good.
    void showGrantCommand();

    bool onboarding() const { return steps_ != nullptr; }

private:
    void finishOnboarding();
    void showWindowProper();
    Ink::Element statusSection() const;

    Parts parts_;
    Platform::Queue& loop_;
    PermissionGrants::Screens::Invalidate invalidate_;
    std::unique_ptr<PermissionGrants::Screens::Shown> steps_;
    std::unique_ptr<PermissionGrants::Screens::Shown> sheet_;
    std::unique_ptr<PermissionGrants::Screens::Shown> loginSwitch_;
    bool commandShown_ = false;
    bool shown_ = false;
    // Tasks posted to the loop find the window gone once it is destroyed.
    std::shared_ptr<AppWindow*> self_;
    // The lid grant of the onboarding and the sheet alike: its action shows
    // the command under the grants.
    PermissionGrants::PermissionGrant lidGrant_;
};

} // namespace LumraApp
