#pragma once

#include <PermissionGrants/Notifications.hpp>

#include <filesystem>
#include <optional>

namespace LumraKit {

// The last notification reach the notifier saw, in notifications.json as one
// JSON string. Stateless: each call reads or writes the whole file, and the
// atomic replace lets another process read it at any moment.
class NotificationStore {
public:
    using Reach = PermissionGrants::PermissionGrant::Notifications::Reach;

    // The process's store, at Paths::current().notificationsFile.
    NotificationStore();
    explicit NotificationStore(std::filesystem::path file);

    // Absent when the file is missing, unreadable or holds anything but one of
    // the four reach values.
    std::optional<Reach> load() const;

    // Always writes, even an unchanged value. A failed write is logged and
    // the old file kept.
    void save(Reach reach) const;

private:
    std::filesystem::path file_;
};

} // namespace LumraKit
