#include "PermissionGrants/Views/LaunchAtLogin.hpp"

namespace PermissionGrants {

using AppInstallation::Job;

PermissionGrant PermissionGrant::LaunchAtLogin::grant() {
    return PermissionGrant::backgroundService(Job::loginItem(), "open at login", "", "gearshape.2", false,
                                              {AppInstallation::Scope::everyone});
}

PermissionGrant::LaunchAtLogin::Controls PermissionGrant::LaunchAtLogin::Controls::live() {
    PermissionGrant item = grant();
    return {
        [item] { return item.standing(); },
        [] { return std::holds_alternative<Job::State::AwaitingApproval>(Job::loginItem().state(true).value); },
        [item](std::function<void(bool)> completion) { item.ask(std::move(completion)); },
        [item] { item.unregister(); },
        [item] { item.act(); },
    };
}

PermissionGrant::LaunchAtLogin::LaunchAtLogin(std::string label, Controls controls, ViewContext context)
    : label_(std::move(label)), context_(std::move(context)), state_(std::make_shared<State>()) {
    state_->controls = std::move(controls);
}

void PermissionGrant::LaunchAtLogin::State::refresh() {
    standing = controls.standing();
    awaiting = controls.awaitingApproval();
}

void PermissionGrant::LaunchAtLogin::refresh() { state_->refresh(); }

bool PermissionGrant::LaunchAtLogin::isOn() const { return state_->standing == Standing::good() || state_->awaiting; }

bool PermissionGrant::LaunchAtLogin::enabled() const { return !state_->asking; }

void PermissionGrant::LaunchAtLogin::toggle(bool on, std::function<void()> onChange) {
    if (state_->asking || on == isOn()) return;
    if (!on) {
        state_->controls.unregister();
        return state_->refresh();
    }
    // Set before asking: a completion may come before ask() returns.
    state_->asking = true;
    state_->controls.ask([weak = std::weak_ptr<State>(state_), onChange = std::move(onChange)](bool) {
        auto state = weak.lock();
        if (!state) return;
        state->asking = false;
        state->refresh();
        if (onChange) onChange();
    });
}

std::optional<std::string> PermissionGrant::LaunchAtLogin::approvalNote() const {
    if (!state_->awaiting) return std::nullopt;
    auto note = state_->standing.note();
    return note ? std::optional<std::string>(*note) : std::nullopt;
}

void PermissionGrant::LaunchAtLogin::pressApprovalLink() const {
    if (state_->awaiting) state_->controls.act();
}

void PermissionGrant::LaunchAtLogin::appeared() {
    context_.surfaceAppeared();
    refresh();
}

} // namespace PermissionGrants
