#pragma once

#include "PermissionGrants/Observe.hpp"
#include "PermissionGrants/Standing.hpp"

#include <Platform/AppEvents.hpp>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace PermissionGrants {

// The process-wide cache of standings by key ("notifications",
// "automation <bundle id>", "job <kind>"): slow readers run once, later reads
// come from the cache until a refresh. Any thread.
class Readings {
public:
    using Reader = std::function<Standing()>;

    // Created on first use; refreshes whenever the application becomes
    // active.
    static Readings& shared();

    // With `events`, the cache refreshes on each activation of this
    // application while it lives.
    explicit Readings(Platform::AppEvents* events = nullptr);

    // The cached standing of `key`, else `reader`'s, which is then cached
    // with its reader. A hit takes the lock briefly and never allocates. The
    // read is observed: trackers hear of the next refresh that changes
    // anything.
    Standing read(std::string_view key, const Reader& reader);

    // Reads every registered key again, without holding the lock while a
    // reader runs; when any standing changed, `revision` goes up by one and
    // observers are told once. A call made while a refresh runs waits for
    // one more refresh, which serves every such call at once: refreshes
    // never pile up.
    void readAll();

    // Observed like read().
    uint64_t revision() const;

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    };
    // A reading remembers when its read began, so that a slow, older read
    // never replaces a newer one.
    struct Reading {
        Standing standing;
        uint64_t ticket;
    };

    // One pass over the readers; whether anything changed.
    bool refreshOnce();
    uint64_t takeTicket();

    ObservationRegistrar registrar_;
    mutable std::mutex lock_;
    std::unordered_map<std::string, Reading, Hash, std::equal_to<>> cached_;
    std::unordered_map<std::string, Reader, Hash, std::equal_to<>> readers_;
    uint64_t revision_ = 0;
    uint64_t tickets_ = 0;

    std::mutex refreshLock_;
    std::condition_variable refreshed_;
    bool refreshing_ = false;
    bool pending_ = false;
    uint64_t started_ = 0;
    uint64_t finished_ = 0;

    std::unique_ptr<Platform::AppEvents::Subscription> activation_;
};

} // namespace PermissionGrants
