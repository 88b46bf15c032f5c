#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Observation: a value reports that it was read (access) and that it
// changed (didChange); code run under tracking learns, once, that something
// it read has changed since. Views and grant observers use it to hear of new
// standings.
namespace PermissionGrants {

namespace detail {
struct Tracking {
    std::atomic<bool> fired{false};
    std::function<void()> onChange;
};
} // namespace detail

// Belongs to one observable value.
class ObservationRegistrar {
public:
    // Records the read in the tracking running on this thread, if any.
    // Cheap and allocation-free when nothing tracks.
    void access() const;
    // Tells every tracking that read the value, each once, on this thread.
    void didChange() const;

private:
    mutable std::mutex mutex_;
    mutable std::vector<std::shared_ptr<detail::Tracking>> waiting_;
};

// Runs `apply` on this thread, recording every registrar it reads; the first
// later change of any of them runs `onChange` once, on the changing thread.
// A tracking that read nothing never fires.
void withObservationTracking(const std::function<void()>& apply, std::function<void()> onChange);

} // namespace PermissionGrants
