#pragma once

#include <PermissionGrants/Screens.hpp>

#include <Platform/AppEvents.hpp>

#include <functional>
#include <memory>
#include <vector>

namespace PermissionGrants::Screens {

// A view model shared between the piece on screen and the actions of the
// frames it drew: an action pressed after the piece is gone finds nothing
// and does nothing.
template <class Model>
struct Held {
    Model model;
    Invalidate invalidate;
};

// Wraps an action on the held model: it runs the action, then asks for a
// redraw, while the piece still lives.
template <class Model, class Do>
Ink::Action acting(const std::shared_ptr<Held<Model>>& held, Do action) {
    return [weak = std::weak_ptr<Held<Model>>(held), action = std::move(action)] {
        if (auto live = weak.lock()) {
            action(live->model);
            live->invalidate();
        }
    };
}

// What a piece tells Live to do with its model.
struct Piece {
    std::function<Ink::Element()> draw;
    // The model's own appeared().
    std::function<void()> appeared;
    std::function<void()> becameActive;
    // The grants observed while shown, and what a new standing of the one
    // at `index` does to the model.
    std::vector<PermissionGrant> watched;
    std::function<void(size_t index, const Standing& now)> changed;
};

// A piece kept current while shown: from appeared() on it observes the
// watched grants and hears the application become active, and after each
// such event asks for a redraw.
class Live final : public Shown {
public:
    Live(Piece piece, Invalidate invalidate);
    ~Live() override;

    Ink::Element draw() override { return state_->piece.draw(); }
    void appeared() override;
    void becameActive() override;

private:
    struct State {
        Piece piece;
        Invalidate invalidate;
        std::vector<std::shared_ptr<PermissionGrant::Observer>> observers;
        std::unique_ptr<Platform::AppEvents::Subscription> activation;
    };
    void stopWatching();

    std::shared_ptr<State> state_;
};

} // namespace PermissionGrants::Screens
