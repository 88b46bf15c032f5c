#include "LumraKit/HostWorld.hpp"
#include "LumraKit/Battery.hpp"
#include "LumraKit/Kernel.hpp"
#include "LumraKit/Log.hpp"
#include "LumraKit/Process.hpp"
#include "LumraKit/Run.hpp"

#include <Platform/Power.hpp>

#include <string>

namespace LumraKit {

HostWorld::HostWorld() : HostWorld(Paths::current()) {}

HostWorld::HostWorld(const Paths& paths)
    : claims_(paths.claimsFile), suspended_(paths.suspendFile, [] { return LumraKit::bootTime(); }),
      configFile_(paths.configFile), notifications_(paths.notificationsFile) {}

Platform::Date HostWorld::now() { return Platform::hostClock().now(); }

Platform::Date HostWorld::bootTime() { return LumraKit::bootTime(); }

PowerSnapshot HostWorld::power() { return Battery::snapshot(); }

bool HostWorld::thermalCritical() { return Platform::Power::thermalState() == Platform::Power::ThermalState::critical; }

std::optional<double> HostWorld::processStartTime(int32_t pid) { return procStartTime(pid); }

bool HostWorld::displayAsleep() { return Platform::Power::mainDisplayAsleep(); }

bool HostWorld::sleepDisabled() { return Kernel::sleepDisabled(); }

LidResult HostWorld::setSleepDisabled(bool on) { return Kernel::setSleepDisabled(on); }

void HostWorld::sleepNow() {
    RunResult result = run("/usr/bin/pmset", {"sleepnow"});
    if (result.status != 0)
        log("pmset sleepnow failed (" + std::to_string(result.status) + "): " + result.errTrimmed());
}

uint32_t HostWorld::createAssertion(Mode mode) { return Kernel::createAssertion(mode); }

void HostWorld::releaseAssertion(uint32_t id) { Kernel::releaseAssertion(id); }

std::vector<Claim> HostWorld::loadClaims() { return claims_.load(); }

void HostWorld::saveClaims(const std::vector<Claim>& claims) { claims_.save(claims); }

std::optional<Platform::Date> HostWorld::loadSuspended() { return suspended_.load(); }

void HostWorld::saveSuspended(std::optional<Platform::Date> date) { suspended_.save(date); }

Config HostWorld::loadConfig() { return Config::load(configFile_); }

void HostWorld::saveConfig(const Config& config) { config.save(configFile_); }

std::optional<NotificationStore::Reach> HostWorld::notificationReach() { return notifications_.load(); }

} // namespace LumraKit
