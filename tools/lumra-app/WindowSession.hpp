#pragma once

#include "AppWindow.hpp"

#include <Ink/Screen.hpp>
#include <Platform/Dispatch.hpp>

#include <functional>
#include <memory>

namespace LumraApp {

// The app's window on the terminal while the app runs: the screen served by
// the main loop, the alert presenter (the install-scope alert becomes a
// dialog), the terminal's focus counted as the app becoming active (the
// pieces hear the system's activation themselves), and a poll off the main
// thread, once a second, that re-reads the service's status and the lid
// grant and redraws when either changed. Destroying it restores the
// terminal and gives alerts back. Main thread only.
class WindowSession {
public:
    // `quit` runs when the person quits (q, Esc, Ctrl-C).
    WindowSession(Platform::MainLoop& loop, std::function<void()> quit);
    ~WindowSession();
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    // One poll, off the main thread: reads the service's status and the
    // lid grant again, both every time (someone may install the grant in
    // another terminal while the status stays the same); true when the
    // window has to be redrawn.
    static bool poll(ServiceStatus& status, LidGrant& lid);

private:

    LidGrant lid_;
    std::shared_ptr<ServiceStatus> status_;
    std::unique_ptr<AppWindow> window_;
    std::unique_ptr<Ink::Screen> screen_;
    std::unique_ptr<Platform::Queue> pollQueue_;
    std::unique_ptr<Platform::RepeatingTimer> pollTimer_;
};

} // namespace LumraApp
