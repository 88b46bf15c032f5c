#include "LumraKit/HostWorld.hpp"
#include "LumraKit/Battery.hpp"
#include "LumraKit/Kernel.hpp"
#include "LumraKit/Log.hpp"
#include "LumraKit/Process.hpp"
#include "LumraKit/Run.hpp"

#include <Platform/Power.hpp>

#include <string>
#include <unistd.h>

namespace LumraKit {

HostWorld::HostWorld() : HostWorld(Paths::current()) {}

HostWorld::HostWorld(const Paths& paths) : StoredWorld(paths) {}

PowerSnapshot HostWorld::power() { return Battery::snapshot(); }

bool HostWorld::thermalCritical() { return Platform::Power::thermalState() == Platform::Power::ThermalState::critical; }

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

std::optional<std::vector<OtherHolder>> HostWorld::otherHolders() {
    std::vector<OtherHolder> holders;
    pid_t self = ::getpid();
    for (const auto& assertion : Platform::Power::assertions()) {
        if (assertion.pid == self || assertion.level <= 0) continue;
        OtherHolder holder{"", assertion.name, assertion.type, std::nullopt, std::nullopt};
        if (assertion.pid > 0) {
            holder.pid = assertion.pid;
            holder.who = procName(assertion.pid).value_or("");
        }
        holders.push_back(std::move(holder));
    }
    return holders;
}

} // namespace LumraKit
