#include <TestSupport/IdleApp.hpp>

namespace TestSupport {

const std::filesystem::path& idleApp() {
    static const std::filesystem::path program = LUMRA_IDLE_APP;
    return program;
}

} // namespace TestSupport
