#include "PermissionGrants/Observe.hpp"

#include <algorithm>

namespace PermissionGrants {

namespace {
thread_local std::shared_ptr<detail::Tracking>* currentTracking = nullptr;
} // namespace

void ObservationRegistrar::access() const {
    if (currentTracking == nullptr) return;
    std::lock_guard lock(mutex_);
    // Trackings that fired through another value have nothing left to hear.
    std::erase_if(waiting_, [](const auto& tracking) { return tracking->fired.load(); });
    if (std::find(waiting_.begin(), waiting_.end(), *currentTracking) == waiting_.end())
        waiting_.push_back(*currentTracking);
}

void ObservationRegistrar::didChange() const {
    std::vector<std::shared_ptr<detail::Tracking>> told;
    {
        std::lock_guard lock(mutex_);
        told.swap(waiting_);
    }
    for (const auto& tracking : told)
        if (!tracking->fired.exchange(true)) tracking->onChange();
}

void withObservationTracking(const std::function<void()>& apply, std::function<void()> onChange) {
    auto tracking = std::make_shared<detail::Tracking>();
    tracking->onChange = std::move(onChange);
    auto* outer = currentTracking;
    currentTracking = &tracking;
    try {
        apply();
    } catch (...) {
        currentTracking = outer;
        throw;
    }
    currentTracking = outer;
}

} // namespace PermissionGrants
