#include <TestSupport/SimulationRoot.hpp>

namespace {

// The engine's tests run pmset and sudo through the stand-ins as the
// machine's ordinary person.
[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot());

} // namespace
