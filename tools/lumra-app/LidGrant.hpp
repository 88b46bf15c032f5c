#pragma once

#include <PermissionGrants/Observe.hpp>
#include <PermissionGrants/PermissionGrant.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace LumraApp {

// Sleep with the lid closed: a grant that stands good when the sudoers
// drop-in lets the person switch the sleep-disable flag, as `lumra grant`
// installs it. Only an admin can install it, through sudo, so its action
// does not ask: it shows the command to run. Someone may run that command
// in another terminal at any time, so recheck() reads the drop-in again
// (from any thread: a poll calls it) and the grant's observers hear of a
// change; the grant's own standing is the one last read, cheap to draw.
class LidGrant {
public:
    static constexpr std::string_view command = "sudo lumra grant";
    static constexpr std::string_view actionTitle = "Show Command";

    // `dropIn` is a host path; `user` the person the rule must name.
    LidGrant(std::filesystem::path dropIn, std::string user);
    // The drop-in of this machine (Paths::current().sudoers) for the person
    // running the app.
    static LidGrant forThisMachine();

    // The grant: "Sleep with the lid closed", optional; pressing its action
    // runs `showCommand` on the main thread. Grants made from one LidGrant
    // (and its copies) share its standing.
    PermissionGrants::PermissionGrant grant(std::function<void()> showCommand) const;
    PermissionGrants::Standing standing() const;

    // Reads the drop-in again; true when the standing changed, and then the
    // grant's observers are told. Any thread.
    bool recheck();

private:
    struct State {
        std::filesystem::path dropIn;
        std::string user;
        mutable std::mutex lock;
        PermissionGrants::Standing standing = PermissionGrants::Standing::unknown("");
        PermissionGrants::ObservationRegistrar registrar;
    };
    std::shared_ptr<State> state_;
};

} // namespace LumraApp
