#pragma once

// A lumrad test driven by the real lumra client, for test programs that
// build both (LUMRA_EXE).

#include "LumradProcess.hpp"

#include <TestSupport/Subprocess.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace LumradTesting {

class LumraDrivenTest : public LumradTest {
protected:
    TestSupport::Finished lumra(const std::vector<std::string>& arguments) {
        return TestSupport::runProcess(LUMRA_EXE, arguments, {{"HOME", home.path().string()}});
    }

    // `lumra status --json`, decoded.
    Status status() {
        auto run = lumra({"status", "--json"});
        EXPECT_EQ(run.status, 0) << run.err;
        try {
            return statusFromJSON(nlohmann::json::parse(run.out));
        } catch (const std::exception& error) {
            ADD_FAILURE() << "status --json printed " << run.out << ": " << error.what();
            return {};
        }
    }
};

} // namespace LumradTesting
