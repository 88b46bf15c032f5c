#include "Lab.hpp"
#include "Grants.hpp"

#include <AppInstallations/System.hpp>
#include <PermissionGrants/Describe.hpp>
#include <PermissionGrants/PrivacyHub.hpp>
#include <Platform/Dispatch.hpp>
#include <Platform/Files.hpp>
#include <Platform/QuitRequests.hpp>

#include <memory>
#include <unistd.h>

namespace GrantLab {

using PermissionGrants::PermissionGrant;
using PermissionGrants::Standing;

namespace {

// Straight to the descriptor: a watching process is read line by line while
// it runs, and it ends without flushing buffers.
void print(const std::string& line) { Platform::Files::writeAll(STDOUT_FILENO, line + "\n"); }

void printAll(const std::vector<PermissionGrant>& grants) {
    for (const auto& grant : grants) print(PermissionGrants::describe(grant));
}

// Asks the grants one after the other on the main loop, then prints them all.
void askFrom(std::shared_ptr<const std::vector<PermissionGrant>> grants, size_t next) {
    if (next == grants->size()) {
        printAll(*grants);
        Platform::mainLoop().stop();
        return;
    }
    (*grants)[next].ask([grants, next](bool) { askFrom(grants, next + 1); });
}

// Opens the hub's window, then prints each grant's line and a line for each
// later change. Observing starts before the first line is printed, so a
// change in between shows twice rather than never.
void watch(std::shared_ptr<const std::vector<PermissionGrant>> grants,
           std::vector<std::shared_ptr<PermissionGrant::Observer>>& observers) {
    // Started here, not at the first privacy reading: the hub's timer also
    // refreshes the other kinds' readings, which a watch of jobs or
    // automation alone would otherwise never see change.
    auto& hub = PermissionGrants::PrivacyHub::shared();
    hub.start();
    hub.watchSettings("a surface appeared");
    Platform::mainLoop().async([grants, &observers] {
        for (const auto& grant : *grants)
            observers.push_back(grant.observe([grant](const Standing& now) { print(describe(grant, now)); }));
        printAll(*grants);
    });
}

} // namespace

Platform::MainLoop& stoppableLoop() {
    Platform::MainLoop& loop = Platform::mainLoop();
    Platform::QuitRequests::receive(
        loop, [&loop] { loop.stop(); }, true);
    return loop;
}

void run(const Command& command) {
    auto grants = std::make_shared<std::vector<PermissionGrant>>(grantsFor(command));
    if (command.mode == Mode::read) {
        printAll(*grants);
        AppInstallation::exitNow(0);
    }

    Platform::MainLoop& loop = stoppableLoop();
    std::vector<std::shared_ptr<PermissionGrant::Observer>> observers;
    if (command.mode == Mode::ask)
        loop.async([grants] { askFrom(grants, 0); });
    else
        watch(grants, observers);
    loop.run();
    AppInstallation::exitNow(0);
}

void serve() {
    stoppableLoop().run();
    AppInstallation::exitNow(0);
}

void settle(const std::vector<std::string>& arguments) {
    auto bundle = AppInstallation::bundle();
    if (!bundle) {
        Platform::Files::writeAll(STDERR_FILENO, "grantlab: installation switches work only inside GrantLab.app\n");
        AppInstallation::exitNow(1);
    }
    AppInstallation::Job::settle(*bundle, ownJobs(), arguments);
    AppInstallation::exitNow(0);
}

} // namespace GrantLab
