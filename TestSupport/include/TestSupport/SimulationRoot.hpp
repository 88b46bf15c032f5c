#pragma once

#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace TestSupport {

// A fresh simulated machine for a whole test program. The process-wide
// simulation root is chosen once, at first use, so it is set before any test
// runs; everything the tests reach (timers reading the time rate, stand-in
// tools, assertions, power sources) then lands in a folder of this run, never
// in the person's own simulated machine. The tools run as the machine's
// ordinary person, so sudo asks for a grant as it would on a Mac. Register
// with testing::AddGlobalTestEnvironment.
class SimulationRoot final : public testing::Environment {
public:
    void SetUp() override {
        folder_.emplace();
        ::setenv("LUMRA_SIM_ROOT", folder_->path().c_str(), 1);
    }
    void TearDown() override { folder_.reset(); }

private:
    std::optional<TempDir> folder_;
};

} // namespace TestSupport
