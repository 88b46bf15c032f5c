// lumra-sim: sets up and inspects the simulated macOS host that every program
// of the project runs against on Linux.

#include "AccountCommands.hpp"
#include "BackgroundCommands.hpp"
#include "LaunchServicesCommands.hpp"
#include "LaunchdCommands.hpp"
#include "PersonCommands.hpp"
#include "PrivacyCommands.hpp"
#include "Signing.hpp"

#include <Platform/Power.hpp>
#include <Platform/SimulatedHost.hpp>

#include <nlohmann/json.hpp>

#include <charconv>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace Power = Platform::Power;
using nlohmann::json;

const std::string usage =
    std::string(
    "usage: lumra-sim init              lay out a fresh simulated machine and print its root\n"
    "       lumra-sim path <macOS path> print where a macOS path lives on this host\n"
    "       lumra-sim power             print the power state: flag, assertions, battery, heat, display\n"
    "       lumra-sim battery <percent> ac|charging|battery\n"
    "                                   one internal battery at <percent> (0-100), on AC power\n"
    "                                   (charged), on AC power and charging, or on its own\n"
    "       lumra-sim battery none      no power source at all (a desktop)\n"
    "       lumra-sim heat nominal|fair|serious|critical\n"
    "       lumra-sim lowpower on|off   Low Power Mode\n"
    "       lumra-sim display asleep|awake\n"
    "       lumra-sim disablesleep on|off\n"
    "                                   the system-wide sleep-disable flag, as root's pmset sets it\n"
    "       lumra-sim prompts           list the prompts waiting for the person, with their IDs\n"
    "       lumra-sim answer <ID> <answer>\n"
    "                                   answer an open prompt as the person\n"
    "       lumra-sim activate <bundle ID>|<pid>\n"
    "                                   bring an application to the front\n"
    "       lumra-sim post <name>       post a distributed notification to every application\n"
    ) + SimCommands::accountUsage + SimCommands::launchdUsage + SimCommands::launchServicesUsage +
    LumraSim::backgroundUsage + LumraSim::privacyUsage +
    "       lumra-sim --version\n"
    "The root is $LUMRA_SIM_ROOT, else ~/.local/share/lumra-sim.\n";

int usageError() {
    std::cerr << usage << LumraSim::bundleUsage;
    return 64;
}

int orUsage(std::optional<int> status) { return status ? *status : usageError(); }

int written(bool ok) {
    if (ok) return 0;
    std::cerr << "lumra-sim: the power state under " << Platform::SimulatedHost::root().string()
              << " cannot be written\n";
    return 1;
}

std::optional<bool> onOff(const std::string& word, const char* on, const char* off) {
    if (word == on) return true;
    if (word == off) return false;
    return std::nullopt;
}

std::string describeSource(const std::optional<std::vector<json>>& sources) {
    if (!sources) return "no power source information";
    if (sources->empty()) return "none";
    const json& first = sources->front();
    if (!first.is_object()) return "a description that is not a dictionary: " + first.dump();
    std::string text;
    auto current = first.find("Current Capacity"), maximum = first.find("Max Capacity");
    if (current != first.end() && maximum != first.end()) text += current->dump() + "/" + maximum->dump() + ", ";
    auto state = first.find("Power Source State");
    text += state != first.end() && state->is_string() ? state->get<std::string>() : "unknown state";
    auto charging = first.find("Is Charging");
    bool isCharging = charging != first.end() && charging->is_boolean() && charging->get<bool>();
    text += isCharging ? ", charging" : ", not charging";
    return text;
}

int printPower() {
    const auto& root = Platform::SimulatedHost::root();
    std::cout << "sleep disabled: " << (Power::sleepDisabled(root) ? "on" : "off") << "\n"
              << "power source: " << describeSource(Power::powerSources(root)) << "\n"
              << "low power mode: " << (Power::lowPowerMode(root) ? "on" : "off") << "\n"
              << "thermal state: " << Power::rawValue(Power::thermalState(root)) << "\n"
              << "display: " << (Power::mainDisplayAsleep(root) ? "asleep" : "awake") << "\n";
    auto assertions = Power::assertions(root);
    std::cout << "assertions: " << (assertions.empty() ? "none" : std::to_string(assertions.size())) << "\n";
    for (const auto& assertion : assertions)
        std::cout << "  " << assertion.id << " " << assertion.type << " \"" << assertion.name << "\" level "
                  << assertion.level << " pid " << assertion.pid << "\n";
    return 0;
}

int setBattery(const std::vector<std::string>& arguments) {
    const auto& root = Platform::SimulatedHost::root();
    if (arguments.size() == 2 && arguments[1] == "none")
        return written(Power::setPowerSources(std::vector<json>{}, root));
    if (arguments.size() != 3) return usageError();

    int percent = -1;
    const std::string& number = arguments[1];
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), percent);
    if (error != std::errc() || end != number.data() + number.size() || percent < 0 || percent > 100)
        return usageError();
    const std::string& state = arguments[2];
    if (state != "ac" && state != "charging" && state != "battery") return usageError();

    json source{{"Name", "InternalBattery-0"},
                {"Type", "InternalBattery"},
                {"Transport Type", "Internal"},
                {"Is Present", true},
                {"Power Source State", state == "battery" ? "Battery Power" : "AC Power"},
                {"Current Capacity", percent},
                {"Max Capacity", 100},
                {"Is Charging", state == "charging"},
                {"Is Charged", state == "ac" && percent == 100}};
    return written(Power::setPowerSources(std::vector<json>{source}, root));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << usage << LumraSim::bundleUsage;
        return 0;
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << "lumra-sim " LUMRA_VERSION "\n";
        return 0;
    }
    if (auto status = SimCommands::runAccountCommand(arguments)) return *status;
    if (auto status = SimCommands::runLaunchdCommand(arguments)) return *status;
    if (auto status = SimCommands::runLaunchServicesCommand(arguments)) return *status;
    if (!arguments.empty() && arguments[0] == "sign")
        return orUsage(LumraSim::sign({arguments.begin() + 1, arguments.end()}));
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
    if (auto status = personCommand(arguments)) return *status;
    if (!arguments.empty() && arguments[0] == "tcc")
        return orUsage(LumraSim::privacy({arguments.begin() + 1, arguments.end()}));
    if (!arguments.empty() && arguments[0] == "background")
        return orUsage(LumraSim::background({arguments.begin() + 1, arguments.end()}));
    if (arguments.size() >= 2 && arguments[0] == "bundle" && arguments[1] == "make")
        return orUsage(LumraSim::makeBundle({arguments.begin() + 2, arguments.end()}));
    if (arguments.size() == 1 && arguments[0] == "power") return printPower();
    if (!arguments.empty() && arguments[0] == "battery") return setBattery(arguments);
    if (arguments.size() == 2) {
        const auto& root = Platform::SimulatedHost::root();
        const std::string& command = arguments[0];
        const std::string& value = arguments[1];
        if (command == "heat") {
            if (auto state = Power::thermalStateNamed(value)) return written(Power::setThermalState(*state, root));
        } else if (command == "lowpower") {
            if (auto on = onOff(value, "on", "off")) return written(Power::setLowPowerMode(*on, root));
        } else if (command == "display") {
            if (auto asleep = onOff(value, "asleep", "awake"))
                return written(Power::setMainDisplayAsleep(*asleep, root));
        } else if (command == "disablesleep") {
            if (auto on = onOff(value, "on", "off")) return written(Power::setSleepDisabled(*on, root));
        }
    }
    return usageError();
}
