#include "Draw.hpp"
#include "Live.hpp"

namespace PermissionGrants::Screens {

std::unique_ptr<Shown> show(PermissionGrant::Row row, Invalidate invalidate) {
    using Row = PermissionGrant::Row;
    auto held = std::make_shared<Held<Row>>(Held<Row>{std::move(row), invalidate});
    return std::make_unique<Live>(
        Piece{
            .draw = [held] { return drawRow(held->model, rowKey(0), acting(held, [](Row& model) { model.press(); })); },
            .appeared = [held] { held->model.appeared(); },
            .becameActive = [held] { held->model.becameActive(); },
            .watched = {held->model.grant()},
            .changed = [held](size_t, const Standing& now) { held->model.changed(now); }},
        std::move(invalidate));
}

std::unique_ptr<Shown> show(PermissionGrant::Section section, Invalidate invalidate) {
    using Section = PermissionGrant::Section;
    auto held = std::make_shared<Held<Section>>(Held<Section>{std::move(section), invalidate});
    std::vector<PermissionGrant> watched;
    for (const auto& row : held->model.rows()) watched.push_back(row.grant());
    auto draw = [held] {
        return drawSection(held->model, 0, [&](size_t index) {
            return acting(held, [index](Section& model) { model.rows()[index].press(); });
        });
    };
    return std::make_unique<Live>(
        Piece{.draw = std::move(draw),
              .appeared = [held] { held->model.appeared(); },
              .becameActive = [held] { held->model.becameActive(); },
              .watched = std::move(watched),
              .changed = [held](size_t index, const Standing& now) { held->model.rows()[index].changed(now); }},
        std::move(invalidate));
}

} // namespace PermissionGrants::Screens
