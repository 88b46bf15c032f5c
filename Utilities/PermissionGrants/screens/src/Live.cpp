#include "Live.hpp"

namespace PermissionGrants::Screens {

Live::Live(Piece piece, Invalidate invalidate)
    : state_(std::make_shared<State>(State{std::move(piece), std::move(invalidate), {}, {}})) {}

Live::~Live() { stopWatching(); }

void Live::stopWatching() {
    for (const auto& observer : state_->observers) observer->cancel();
    state_->observers.clear();
    state_->activation.reset();
}

void Live::appeared() {
    // Appearing again starts afresh rather than doubling every handler.
    stopWatching();
    std::weak_ptr<State> weak = state_;
    const auto& watched = state_->piece.watched;
    for (size_t index = 0; index < watched.size(); ++index)
        state_->observers.push_back(watched[index].observe([weak, index](const Standing& now) {
            if (auto state = weak.lock()) {
                state->piece.changed(index, now);
                state->invalidate();
            }
        }));
    state_->activation = Platform::AppEvents::current().subscribe(std::string(Platform::didBecomeActive), [weak] {
        if (auto state = weak.lock()) {
            state->piece.becameActive();
            state->invalidate();
        }
    });
    state_->piece.appeared();
    state_->invalidate();
}

void Live::becameActive() {
    state_->piece.becameActive();
    state_->invalidate();
}

} // namespace PermissionGrants::Screens
