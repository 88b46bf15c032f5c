#include "LaunchServicesCommands.hpp"

#include <Platform/LaunchServices.hpp>
#include <Platform/SimulatedHost.hpp>

#include <cmath>
#include <iostream>

namespace SimCommands {

namespace {

namespace LS = Platform::LaunchServices;
namespace Host = Platform::SimulatedHost;

int list() {
    auto records = LS::records(Host::root());
    if (records.empty()) std::cout << "no records\n";
    for (const auto& record : records)
        std::cout << (record.kind == LS::Kind::app ? "app" : "appex") << "\t" << record.identifier << "\t"
                  << record.version << "\t" << record.path << "\n";
    return 0;
}

int registerApp(const std::string& path) {
    if (!path.starts_with("/")) {
        std::cerr << "lumra-sim: " << path << " is not a macOS path from /\n";
        return 64;
    }
    if (auto problem = LS::registerBundle(path, Host::root())) {
        std::cerr << "lumra-sim: " << *problem << "\n";
        return 1;
    }
    return 0;
}

std::optional<int> delay(const std::vector<std::string>& arguments) {
    if (arguments.size() == 2) {
        std::cout << LS::extensionDelay(Host::root()) << " s\n";
        return 0;
    }
    const std::string& text = arguments[2];
    size_t used = 0;
    double seconds = -1;
    try {
        seconds = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || !std::isfinite(seconds) || seconds < 0) {
        std::cerr << "lumra-sim: " << text << " is no number of seconds\n";
        return 64;
    }
    if (!LS::setExtensionDelay(seconds, Host::root())) {
        std::cerr << "lumra-sim: the extension registry under " << Host::root().string() << " cannot be written\n";
        return 1;
    }
    return 0;
}

} // namespace

std::optional<int> runLaunchServicesCommand(const std::vector<std::string>& arguments) {
    if (arguments.size() < 2 || arguments[0] != "ls") return std::nullopt;
    const std::string& command = arguments[1];
    if (arguments.size() == 2 && command == "dump") {
        std::cout << LS::dumpText(LS::records(Host::root()));
        return 0;
    }
    if (arguments.size() == 2 && command == "list") return list();
    if (arguments.size() == 3 && command == "register") return registerApp(arguments[2]);
    if (arguments.size() <= 3 && command == "pluginkit-delay") return delay(arguments);
    return std::nullopt;
}

} // namespace SimCommands
