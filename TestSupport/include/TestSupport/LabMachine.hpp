#pragma once

#include <Platform/Launchd.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/AppCopies.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/ProcessGuard.hpp>
#include <TestSupport/Processes.hpp>
#include <TestSupport/SimMachine.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace TestSupport {

// A fresh machine whose time runs 10 times faster (a 2-second refresh takes
// 200 ms), with a copy of GrantLab.app installed for everyone. Booting the
// jobs out is how it shuts down; any process of an app still running then
// fails the test (a probe may outlive its parent by a moment; nothing else
// may).
struct LabMachine : SimMachine {
    LabMachine(std::filesystem::path simulator, const std::filesystem::path& grantlabApp)
        : SimMachine(std::move(simulator)) {
        Platform::SimulatedHost::initialize(root);
        writeFile(root / "clock.json", R"({"rate": 10})");
        copyBundle(grantlabApp, lab);
    }
    ~LabMachine() {
        Platform::Launchd::stopAll(root);
        eventually([&] { return guard.running().empty(); });
    }

    // Runs lumra-sim and expects it to succeed.
    void ok(const std::vector<std::string>& command) const {
        auto done = sim(command);
        EXPECT_EQ(done.status, 0) << done.err;
    }
    // What the simulated person answers, and when.
    void rules(const std::string& json) const { writeFile(root / "person/rules.json", json); }

    std::filesystem::path lab = root / "Applications/GrantLab.app";
    ProcessGuard guard{{root, home.path()}};
};

} // namespace TestSupport
