#include "Draw.hpp"
#include "Live.hpp"

namespace PermissionGrants::Screens {

std::unique_ptr<Shown> show(PermissionGrant::Chip chip, Invalidate invalidate, std::string key) {
    using Chip = PermissionGrant::Chip;
    auto held = std::make_shared<Held<Chip>>(Held<Chip>{std::move(chip), invalidate});
    auto draw = [held, key = std::move(key)] {
        auto action = held->model.action();
        if (!action) return Ink::empty();
        return drawTrailing(*action, key, acting(held, [](Chip& model) { model.press(); }));
    };
    // Drawn from the current standing: a change only needs a redraw.
    return std::make_unique<Live>(Piece{.draw = std::move(draw),
                                        .appeared = [] {},
                                        .becameActive = [] {},
                                        .watched = {held->model.grant()},
                                        .changed = [](size_t, const Standing&) {}},
                                  std::move(invalidate));
}

} // namespace PermissionGrants::Screens
