#include <TestSupport/SimulationRoot.hpp>

namespace {

// Every program these tests start, lumrad and its stand-in tools included,
// runs on a simulated machine of this run, as its ordinary person.
[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot());

} // namespace
