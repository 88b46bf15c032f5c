#include "Live.hpp"

namespace PermissionGrants::Screens {

std::unique_ptr<Shown> show(PermissionGrant::LaunchAtLogin launchAtLogin, Invalidate invalidate,
                            PermissionGrant watched) {
    using LaunchAtLogin = PermissionGrant::LaunchAtLogin;
    auto held = std::make_shared<Held<LaunchAtLogin>>(Held<LaunchAtLogin>{std::move(launchAtLogin), invalidate});
    // Drawn from what refresh() read last: probing the login item runs a
    // tool, so it happens on appearance, activation and change only.
    auto draw = [held] {
        const LaunchAtLogin& model = held->model;
        std::weak_ptr<Held<LaunchAtLogin>> weak = held;
        auto toggled = [weak](bool on) {
            auto live = weak.lock();
            if (!live) return;
            live->model.toggle(on, [weak] {
                if (auto later = weak.lock()) later->invalidate();
            });
            live->invalidate();
        };
        std::vector<Ink::Element> parts{
            Ink::toggle("login:switch", model.label(), model.isOn(), model.enabled(), std::move(toggled))};
        if (auto note = model.approvalNote())
            parts.push_back(
                Ink::link("login:approval", *note, acting(held, [](LaunchAtLogin& now) { now.pressApprovalLink(); })));
        return Ink::vstack(std::move(parts));
    };
    auto refresh = [held] { held->model.refresh(); };
    return std::make_unique<Live>(Piece{.draw = std::move(draw),
                                        .appeared = [held] { held->model.appeared(); },
                                        .becameActive = refresh,
                                        .watched = {std::move(watched)},
                                        .changed = [refresh](size_t, const Standing&) { refresh(); }},
                                  std::move(invalidate));
}

} // namespace PermissionGrants::Screens
