#include "TestSupport/AsRoot.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/FileContents.hpp>

#include <gtest/gtest.h>

namespace TestSupport {

Finished runAsRoot(const std::filesystem::path& root, const std::vector<std::string>& command,
                   std::map<std::string, std::string> environment) {
    Platform::SimulatedHost::initialize(root);
    Platform::Accounts::setPassword(Platform::Accounts::person().name, personPassword, root);
    std::vector<std::string> arguments{"-c", "printf '%s\\n' \"$LUMRA_TEST_PASSWORD\" | \"$0\" -S -- \"$@\"",
                                       (Platform::SimulatedHost::standInFolder() / "sudo").string()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    environment["LUMRA_SIM_ROOT"] = root.string();
    environment["LUMRA_TEST_PASSWORD"] = personPassword;
    Finished finished = runProcess("/bin/sh", arguments, environment);
    std::string prompt = "[sudo] password for " + Platform::Accounts::person().name + ": ";
    if (finished.err.starts_with(prompt)) finished.err.erase(0, prompt.size());
    return finished;
}

void installDropIn(const std::filesystem::path& root, const std::string& text, const std::string& name) {
    std::filesystem::path file = Platform::SimulatedHost::hostPath("/etc/sudoers.d/" + name, root);
    std::filesystem::remove(file);
    writeFile(file, text);
    std::filesystem::permissions(file, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    auto given = runAsRoot(root, {"/usr/sbin/chown", "root:wheel", "/etc/sudoers.d/" + name});
    ASSERT_EQ(given.status, 0) << given.err;
}

std::string flagRule(const std::string& commands) {
    return Platform::Accounts::person().name + " ALL=(root) NOPASSWD: " + commands + "\n";
}

} // namespace TestSupport
