#pragma once

#include <TestSupport/SimMachine.hpp>

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// A simulated machine for the records' tests: bundles made with lumra-sim,
// the platform's tools run by their macOS paths, and the records probe.
struct RecordsMachine {
    static constexpr const char* lsregister =
        "/System/Library/Frameworks/CoreServices.framework/Frameworks/LaunchServices.framework/Support/lsregister";

    TestSupport::SimMachine machine{LUMRA_SIM_EXE};
    std::string home = machine.home.path().string();

    RecordsMachine() { EXPECT_EQ(machine.sim({"init"}).status, 0); }

    TestSupport::Finished sim(const std::vector<std::string>& arguments) const { return machine.sim(arguments); }

    // Makes the app at the macOS path `app` with an extension per NAME=ID.
    void make(const std::string& app, const std::string& identifier, const std::vector<std::string>& extensions = {},
              const std::string& version = "1.0") const {
        std::vector<std::string> arguments{"bundle", "make", app, "--identifier", identifier, "--version", version};
        for (const auto& extension : extensions) arguments.insert(arguments.end(), {"--extension", extension});
        auto made = sim(arguments);
        ASSERT_EQ(made.status, 0) << made.err;
    }
    void registered(const std::string& app) const {
        auto done = sim({"ls", "register", app});
        ASSERT_EQ(done.status, 0) << done.err;
    }
    // The records as `lumra-sim ls list` gives them, path by path.
    std::string list() const { return sim({"ls", "list"}).out; }

    TestSupport::Finished tool(const std::string& macPath, const std::vector<std::string>& arguments) const {
        return TestSupport::runProcess(host(macPath), arguments, machine.environment());
    }
    TestSupport::Finished probe(const std::vector<std::string>& arguments,
                                std::map<std::string, std::string> extra = {}) const {
        auto environment = machine.environment();
        environment.merge(extra);
        return TestSupport::runProcess(RECORDS_PROBE_EXE, arguments, environment);
    }
    std::filesystem::path host(const std::string& macPath) const {
        if (macPath.starts_with(home)) return macPath;
        return machine.root.string() + macPath;
    }
    // Puts a script of the test's own where a tool lives.
    void replaceTool(const std::string& macPath, const std::string& body) const {
        std::filesystem::path path = host(macPath);
        std::filesystem::remove(path);
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms(0755));
    }
    void clockRate(double rate) const { std::ofstream(machine.root / "clock.json") << "{\"rate\": " << rate << "}"; }
};
