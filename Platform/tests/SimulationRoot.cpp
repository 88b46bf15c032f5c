#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

// The process-wide simulation root is chosen once, on first use, and made
// into a fresh machine when missing. Anything that reaches it (the global
// queue reads the time rate from it) must land in a folder of this run, never
// in the person's own simulated machine.
class SimulationRoot final : public testing::Environment {
public:
    void SetUp() override {
        folder_.emplace();
        ::setenv("LUMRA_SIM_ROOT", folder_->path().c_str(), 1);
    }
    void TearDown() override { folder_.reset(); }

private:
    std::optional<TestSupport::TempDir> folder_;
};

[[maybe_unused]] testing::Environment* const registered = testing::AddGlobalTestEnvironment(new SimulationRoot);

} // namespace
