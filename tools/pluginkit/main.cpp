// Stand-in for macOS's pluginkit on the simulated machine:
//   pluginkit -a PATH…      adds extension bundles to the registry
//   pluginkit -r PATH…      takes them out
//   pluginkit -m -i ID      one line "     ID(VERSION)" per listed extension
//                           whose identifier begins with ID
// An added extension is listed only once the machine's delay has passed
// (`lumra-sim ls pluginkit-delay`). Paths are macOS paths.

#include <Platform/Files.hpp>
#include <Platform/LaunchServices.hpp>
#include <Platform/SimulatedHost.hpp>

#include <iostream>
#include <string>
#include <vector>

namespace {

namespace LS = Platform::LaunchServices;
namespace Host = Platform::SimulatedHost;

constexpr const char* usage = "usage: pluginkit -a <path>... | -r <path>... | -m -i <identifier>\n";

int add(const std::vector<std::string>& paths) {
    int status = 0;
    for (const auto& path : paths)
        if (auto problem = LS::addExtension(Platform::Files::absolutePath(path), Host::root())) {
            std::cerr << "pluginkit: " << *problem << "\n";
            status = 1;
        }
    return status;
}

int remove(const std::vector<std::string>& paths) {
    for (const auto& path : paths) LS::removeExtension(Platform::Files::absolutePath(path), Host::root());
    return 0;
}

int list(const std::string& identifier) {
    for (const auto& extension : LS::listedExtensions(identifier, Host::root()))
        std::cout << "     " << extension.identifier << "(" << extension.version << ")\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == "-a") return add({arguments.begin() + 1, arguments.end()});
    if (arguments.size() >= 2 && arguments[0] == "-r") return remove({arguments.begin() + 1, arguments.end()});
    if (arguments.size() == 3 && arguments[0] == "-m" && arguments[1] == "-i") return list(arguments[2]);
    if (arguments.size() == 3 && arguments[0] == "-i" && arguments[2] == "-m") return list(arguments[1]);
    for (const auto& argument : arguments)
        if (argument.starts_with("-") && argument != "-a" && argument != "-r" && argument != "-m" && argument != "-i") {
            std::cerr << "pluginkit: unknown option " << argument << "\n";
            return 64;
        }
    std::cerr << usage;
    return 64;
}
