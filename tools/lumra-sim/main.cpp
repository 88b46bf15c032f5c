// lumra-sim: sets up and inspects the simulated macOS host that every program
// of the project runs against on Linux.

#include <Platform/SimulatedHost.hpp>

#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: lumra-sim init              lay out a fresh simulated machine and print its root\n"
    "       lumra-sim path <macOS path> print where a macOS path lives on this host\n"
    "The root is $LUMRA_SIM_ROOT, else ~/.local/share/lumra-sim.\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << usage;
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == "init") {
        const auto& root = Platform::SimulatedHost::root();
        Platform::SimulatedHost::initialize(root);
        std::cout << root.string() << "\n";
        return 0;
    }
    if (arguments.size() == 2 && arguments[0] == "path") {
        std::cout << Platform::SimulatedHost::hostPath(arguments[1]).string() << "\n";
        return 0;
    }
    std::cerr << usage;
    return 64;
}
