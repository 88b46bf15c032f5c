#include "LumraKit/StoredWorld.hpp"
#include "LumraKit/Process.hpp"

namespace LumraKit {

StoredWorld::StoredWorld(const Paths& paths)
    : claims_(paths.claimsFile), suspended_(paths.suspendFile, [] { return LumraKit::bootTime(); }),
      configFile_(paths.configFile), notifications_(paths.notificationsFile) {}

Platform::Date StoredWorld::now() { return Platform::hostClock().now(); }

Platform::Date StoredWorld::bootTime() { return LumraKit::bootTime(); }

std::optional<double> StoredWorld::processStartTime(int32_t pid) { return procStartTime(pid); }

std::vector<Claim> StoredWorld::loadClaims() { return claims_.load(); }

void StoredWorld::saveClaims(const std::vector<Claim>& claims) { claims_.save(claims); }

std::optional<Platform::Date> StoredWorld::loadSuspended() { return suspended_.load(); }

void StoredWorld::saveSuspended(std::optional<Platform::Date> date) { suspended_.save(date); }

Config StoredWorld::loadConfig() { return Config::load(configFile_); }

void StoredWorld::saveConfig(const Config& config) { config.save(configFile_); }

std::optional<NotificationStore::Reach> StoredWorld::notificationReach() { return notifications_.load(); }

} // namespace LumraKit
