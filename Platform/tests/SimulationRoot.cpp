#include <TestSupport/SimulationRoot.hpp>

namespace {

[[maybe_unused]] testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new TestSupport::SimulationRoot);

} // namespace
