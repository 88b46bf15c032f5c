#pragma once

#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AsRoot.hpp>

#include <filesystem>
#include <string>

// The simulated machine's sudoers drop-in for the tests' ordinary person,
// who may switch the sleep-disable flag only when it grants that.
namespace FlagGrant {

inline std::filesystem::path file() {
    return Platform::SimulatedHost::hostPath("/etc/sudoers.d/lumra", Platform::SimulatedHost::root());
}

inline void grant(const std::string& commands = "/usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1") {
    TestSupport::installDropIn(Platform::SimulatedHost::root(), TestSupport::flagRule(commands));
}

inline void revoke() { std::filesystem::remove(file()); }

} // namespace FlagGrant
