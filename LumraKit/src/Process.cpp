#include "LumraKit/Process.hpp"
#include "LumraKit/Log.hpp"

#include <Platform/ProcessTable.hpp>

namespace LumraKit {

Platform::Date bootTime() {
    if (auto boot = Platform::ProcessTable::bootTime()) return *boot;
    log("boot time unavailable; taking now");
    return Platform::hostClock().now();
}

std::optional<double> procStartTime(pid_t pid) { return Platform::ProcessTable::startTime(pid); }

std::optional<std::string> procName(pid_t pid) { return Platform::ProcessTable::name(pid); }

} // namespace LumraKit
