#include "LumraKit/NotificationStore.hpp"
#include "LumraKit/Identity.hpp"
#include "LumraKit/JSONCoder.hpp"
#include "LumraKit/Log.hpp"

#include <Platform/Files.hpp>

#include <nlohmann/json.hpp>

namespace LumraKit {

using Notifications = PermissionGrants::PermissionGrant::Notifications;

NotificationStore::NotificationStore() : NotificationStore(Paths::current().notificationsFile) {}

NotificationStore::NotificationStore(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<NotificationStore::Reach> NotificationStore::load() const {
    auto text = Platform::Files::read(file_);
    if (!text) return std::nullopt;
    try {
        auto value = JSONCoder::plain.decode(*text);
        if (!value.is_string()) return std::nullopt;
        return Notifications::reachNamed(value.get_ref<const std::string&>());
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

void NotificationStore::save(Reach reach) const {
    Platform::Files::createDirectories(file_.parent_path(), Paths::privateFolderMode);
    std::string text = JSONCoder::plain.encode(nlohmann::json(std::string(Notifications::rawValue(reach))));
    if (auto error = Platform::Files::writeAtomically(file_, text, Paths::privateFileMode))
        log("notifications.json not written: " + error.message());
}

} // namespace LumraKit
