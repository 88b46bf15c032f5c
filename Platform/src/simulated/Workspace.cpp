#include "Platform/Workspace.hpp"
#include "Platform/Files.hpp"
#include "Platform/SimulatedHost.hpp"

namespace Platform {

namespace {

class SimulatedWorkspace final : public Workspace {
public:
    explicit SimulatedWorkspace(std::filesystem::path root) : log_(std::move(root) / "opened-urls.log") {}
    void open(const URL& url) override { Files::append(log_, url.text() + "\n"); }

private:
    std::filesystem::path log_;
};

} // namespace

std::unique_ptr<Workspace> makeSimulatedWorkspace(std::filesystem::path root) {
    return std::make_unique<SimulatedWorkspace>(std::move(root));
}

Workspace& Workspace::shared() {
    static auto workspace = makeSimulatedWorkspace(SimulatedHost::root());
    return *workspace;
}

} // namespace Platform
