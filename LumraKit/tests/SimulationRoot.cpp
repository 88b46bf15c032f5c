#include <TestSupport/SimulationRoot.hpp>

namespace {

// The engine's tests run pmset and sudo through the stand-ins as an ordinary
// person, alice.
[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot("alice"));

} // namespace
