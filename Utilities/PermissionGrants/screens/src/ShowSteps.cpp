#include "Draw.hpp"
#include "Live.hpp"

namespace PermissionGrants::Screens {

namespace {

using Steps = PermissionGrant::Steps;

Ink::Element drawSteps(const std::shared_ptr<Held<Steps>>& held, const std::function<Ink::Element()>& welcome) {
    const Steps& steps = held->model;
    std::vector<Ink::Hue> dots;
    for (int page = 0; page < steps.pageCount(); ++page) {
        auto tint = steps.tint(page);
        dots.push_back(tint ? inkHue(*tint) : Ink::Hue::none);
    }
    const PermissionGrant::Page* page = steps.pageAt(steps.page());
    Ink::Element shown = page                            ? drawPage(*page, acting(held,
                                                                                  [index = steps.page()](Steps& model) {
                                                           if (const auto* now = model.pageAt(index)) now->press();
                                                       }))
                                                    : welcome && steps.hasWelcome() ? welcome()
                                                         : Ink::empty();
    Steps::Button button = steps.button();
    Ink::Element footer =
        Ink::footerBar({Ink::button({.key = "steps:button",
                                     .label = button.label,
                                     .hue = button.isDefault ? Ink::Hue::accent : Ink::Hue::none,
                                     .tinted = button.isDefault,
                                     .enabled = button.enabled,
                                     .isDefault = button.isDefault,
                                     .onPress = acting(held, [](Steps& model) { model.pressButton(); })})});
    return Ink::pager(std::move(dots), steps.page(), std::move(shown), std::move(footer));
}

} // namespace

std::unique_ptr<Shown> show(PermissionGrant::Steps steps, Invalidate invalidate,
                            std::function<Ink::Element()> welcome) {
    auto held = std::make_shared<Held<Steps>>(Held<Steps>{std::move(steps), invalidate});
    std::vector<PermissionGrant> watched;
    for (int page = 0; page < held->model.pageCount(); ++page)
        if (const auto* shown = held->model.pageAt(page)) watched.push_back(shown->grant());
    // Any change may be the page's grant turning good, which moves on.
    auto recheck = [held] { held->model.standingsChanged(); };
    return std::make_unique<Live>(
        Piece{.draw = [held, welcome = std::move(welcome)] { return drawSteps(held, welcome); },
              .appeared = [held] { held->model.appeared(); },
              .becameActive = recheck,
              .watched = std::move(watched),
              .changed = [recheck](size_t, const Standing&) { recheck(); }},
        std::move(invalidate));
}

} // namespace PermissionGrants::Screens
