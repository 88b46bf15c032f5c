#include "PermissionGrants/Readings.hpp"

namespace PermissionGrants {

Readings& Readings::shared() {
    // Never destroyed: refreshes on background queues may still run while
    // the process exits.
    static Readings& readings = *new Readings(&Platform::AppEvents::current());
    return readings;
}

Readings::Readings(Platform::AppEvents* events) {
    if (events != nullptr)
        activation_ = events->subscribe(std::string(Platform::didBecomeActive), [this] { readAll(); });
}

uint64_t Readings::takeTicket() {
    std::lock_guard lock(lock_);
    return ++tickets_;
}

Standing Readings::read(std::string_view key, const Reader& reader) {
    registrar_.access();
    {
        std::lock_guard lock(lock_);
        if (auto found = cached_.find(key); found != cached_.end()) return found->second.standing;
    }
    uint64_t ticket = takeTicket();
    Standing standing = reader();
    std::lock_guard lock(lock_);
    auto found = cached_.find(key);
    if (found == cached_.end())
        cached_.emplace(std::string(key), Reading{standing, ticket});
    else if (found->second.ticket < ticket)
        found->second = Reading{standing, ticket};
    if (readers_.find(key) == readers_.end()) readers_.emplace(std::string(key), reader);
    return standing;
}

bool Readings::refreshOnce() {
    std::unordered_map<std::string, Reader, Hash, std::equal_to<>> readers;
    {
        std::lock_guard lock(lock_);
        readers = readers_;
    }
    bool changed = false;
    for (const auto& [key, reader] : readers) {
        uint64_t ticket = takeTicket();
        Standing standing = reader();
        std::lock_guard lock(lock_);
        auto found = cached_.find(key);
        if (found == cached_.end()) {
            cached_.emplace(key, Reading{standing, ticket});
            changed = true;
        } else if (found->second.ticket < ticket) {
            changed = changed || !(found->second.standing == standing);
            found->second = Reading{standing, ticket};
        }
    }
    return changed;
}

void Readings::readAll() {
    std::unique_lock refresh(refreshLock_);
    if (refreshing_) {
        // One refresh runs: the next one, started once it ends, covers this
        // call and every other that arrives meanwhile.
        pending_ = true;
        uint64_t awaited = started_ + 1;
        refreshed_.wait(refresh, [&] { return finished_ >= awaited; });
        return;
    }
    refreshing_ = true;
    do {
        pending_ = false;
        uint64_t generation = ++started_;
        refresh.unlock();
        bool changed = refreshOnce();
        if (changed) {
            {
                std::lock_guard lock(lock_);
                ++revision_;
            }
            registrar_.didChange();
        }
        refresh.lock();
        finished_ = generation;
        refreshed_.notify_all();
    } while (pending_);
    refreshing_ = false;
}

uint64_t Readings::revision() const {
    registrar_.access();
    std::lock_guard lock(lock_);
    return revision_;
}

} // namespace PermissionGrants
