#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

// The process-wide simulation root is chosen once, on first use. Everything
// these tests run (pmset and sudo through the stand-ins, assertions, power
// sources) lands in a fresh machine of this run, never in the person's own,
// and its user is not root, so that sudo asks for a grant as it would for a
// person.
class SimulationRoot final : public testing::Environment {
public:
    void SetUp() override {
        folder_.emplace();
        ::setenv("LUMRA_SIM_ROOT", folder_->path().c_str(), 1);
        ::setenv("LUMRA_SIM_USER", "alice", 1);
    }
    void TearDown() override { folder_.reset(); }

private:
    std::optional<TestSupport::TempDir> folder_;
};

[[maybe_unused]] testing::Environment* const registered = testing::AddGlobalTestEnvironment(new SimulationRoot);

} // namespace
