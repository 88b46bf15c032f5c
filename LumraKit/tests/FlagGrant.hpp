#pragma once

#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>

#include <filesystem>
#include <string>

// The simulated machine's sudoers drop-in for the tests' ordinary person,
// alice, who may switch the sleep-disable flag only when it grants her that.
namespace FlagGrant {

inline std::filesystem::path file() {
    return Platform::SimulatedHost::hostPath("/etc/sudoers.d/lumra", Platform::SimulatedHost::root());
}

inline void grant(const std::string& commands = "/usr/bin/pmset -a disablesleep 0, /usr/bin/pmset -a disablesleep 1\n") {
    TestSupport::writeFile(file(), "alice ALL=(root) NOPASSWD: " + commands);
}

inline void revoke() { std::filesystem::remove(file()); }

} // namespace FlagGrant
