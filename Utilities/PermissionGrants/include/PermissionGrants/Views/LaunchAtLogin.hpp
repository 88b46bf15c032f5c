#pragma once

#include "PermissionGrants/Views/Pieces.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace PermissionGrants {

// A switch for the application's login item. It is on while the item's
// grant is good or the item awaits the person's approval; switching it on
// asks the grant, off unregisters it. While an ask is under way the switch
// is disabled, so turning it off cannot pull the job from under the ask.
// While the item awaits approval a link under the switch shows the
// standing's note and acts on the grant (opening Login Items). Copies show
// one and the same switch.
class PermissionGrant::LaunchAtLogin {
public:
    // What the switch does to the login item. live() works on the real one
    // through grant(); tests hand in their own.
    struct Controls {
        std::function<Standing()> standing;
        // Whether the item's state (probed) is awaiting approval.
        std::function<bool()> awaitingApproval;
        // Asks the grant; the completion runs on the main thread.
        std::function<void(std::function<void(bool allowed)>)> ask;
        std::function<void()> unregister;
        std::function<void()> act;

        static Controls live();
    };

    // The login item's grant: "open at login", no why, symbol "gearshape.2",
    // optional, installed for everyone only.
    static PermissionGrant grant();

    explicit LaunchAtLogin(std::string label, Controls controls = Controls::live(), ViewContext context = {});

    const std::string& label() const { return label_; }

    // Reads the standing and the item's state again. Probing runs a tool, so
    // the host calls this when the switch appears, when the application
    // becomes active and when the grant's standing changes, not at every
    // redraw; an ask's completion calls it too.
    void refresh();

    bool isOn() const;
    // False while an ask is under way.
    bool enabled() const;
    // Switching it on asks, off unregisters; ignored while disabled or when
    // it is already in that position. `onChange` (when given) runs after the
    // ask completes, so the host can redraw.
    void toggle(bool on, std::function<void()> onChange = {});

    // The standing's note while the item awaits approval.
    std::optional<std::string> approvalNote() const;
    // The approval link: acts on the grant.
    void pressApprovalLink() const;

    // Tells the hub a surface appeared and refreshes.
    void appeared();

private:
    // What the switch last read and whether an ask is under way. The ask's
    // completion holds it weakly: it may come after the view is gone.
    struct State {
        Controls controls;
        Standing standing = Standing::unknown("");
        bool awaiting = false;
        bool asking = false;

        void refresh();
    };

    std::string label_;
    ViewContext context_;
    std::shared_ptr<State> state_;
};

} // namespace PermissionGrants
