// Stand-in for macOS's lsregister on the simulated machine:
//   lsregister -dump        the database, record by record
//   lsregister -f PATH      registers the app and the bundles it carries
//   lsregister -u PATH      forgets the records at and inside PATH
// Paths are macOS paths; a relative one is the caller's.

#include <Platform/Files.hpp>
#include <Platform/LaunchServices.hpp>
#include <Platform/SimulatedHost.hpp>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

namespace LS = Platform::LaunchServices;
namespace Host = Platform::SimulatedHost;

constexpr const char* usage = "usage: lsregister -dump | -f <path> | -u <path>\n";

int registerPath(const std::string& path) {
    if (auto problem = LS::registerBundle(Platform::Files::absolutePath(path), Host::root())) {
        std::cerr << "lsregister: " << *problem << "\n";
        return 1;
    }
    return 0;
}

int unregisterPath(const std::string& path) {
    std::string macPath = Platform::Files::absolutePath(path);
    if (LS::unregisterBundle(macPath, Host::root())) return 0;
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(Host::hostPath(macPath), error))) return 0;
    std::cerr << "lsregister: " << macPath << ": No such file or directory\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && arguments[0] == "-dump") {
        std::cout << LS::dumpText(LS::records(Host::root()));
        return 0;
    }
    if (arguments.size() == 2 && arguments[0] == "-f") return registerPath(arguments[1]);
    if (arguments.size() == 2 && arguments[0] == "-u") return unregisterPath(arguments[1]);
    if (arguments.size() == 1 && !arguments[0].starts_with("-")) return registerPath(arguments[0]);
    for (const auto& argument : arguments)
        if (argument.starts_with("-") && argument != "-dump" && argument != "-f" && argument != "-u") {
            std::cerr << "lsregister: unknown option " << argument << "\n";
            return 64;
        }
    std::cerr << usage;
    return 64;
}
