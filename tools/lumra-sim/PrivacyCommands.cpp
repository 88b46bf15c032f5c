#include "PrivacyCommands.hpp"

#include <Platform/PrivacyDatabase.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/UTF8.hpp>

#include <charconv>
#include <iostream>

namespace LumraSim {

namespace {

namespace Database = Platform::PrivacyDatabase;

int failed(const std::string& why, int status) {
    std::cerr << "lumra-sim: " << why << "\n";
    return status;
}

int list() {
    const auto& root = Platform::SimulatedHost::root();
    auto all = Database::entries(root);
    if (all.empty()) std::cout << "no entries\n";
    for (const auto& entry : all)
        std::cout << entry.client << "  " << entry.service << (entry.target.empty() ? "" : " " + entry.target) << "  "
                  << Database::name(entry.value) << "  by " << entry.by << " at " << entry.at << "\n";
    auto points = Database::entryPoints(root);
    if (!points.preflight) std::cout << "TCCAccessPreflight: absent\n";
    if (!points.request) std::cout << "TCCAccessRequest: absent\n";
    if (!points.disclaim) std::cout << "responsibility_spawnattrs_setdisclaim: absent\n";
    if (points.disclaimResult != 0)
        std::cout << "responsibility_spawnattrs_setdisclaim: fails with " << points.disclaimResult << "\n";
    return 0;
}

std::optional<int> change(const std::vector<std::string>& arguments) {
    const std::string& verb = arguments[0];
    std::optional<Database::Value> value;
    if (verb == "allow") value = Database::Value::allowed;
    else if (verb == "deny") value = Database::Value::denied;
    else if (verb == "restrict") value = Database::Value::restricted;
    else if (verb != "reset") return std::nullopt;

    if (arguments.size() != 3 && !(arguments.size() == 5 && arguments[3] == "--target")) return std::nullopt;
    const std::string &service = arguments[1], &client = arguments[2];
    std::string target = arguments.size() == 5 ? arguments[4] : "";
    if (!Database::isService(service)) return failed("no privacy service is called " + service, 64);
    if (client.empty() || !Platform::UTF8::isValid(client)) return failed("the client must be a name in UTF-8", 64);
    bool appleEvents = service == Database::appleEvents;
    if (appleEvents && (target.empty() || !Platform::UTF8::isValid(target)))
        return failed("kTCCServiceAppleEvents needs --target <bundle ID>", 64);
    if (!appleEvents && arguments.size() == 5) return failed("only kTCCServiceAppleEvents takes --target", 64);
    if (auto error = Database::store(Platform::SimulatedHost::root(), client, service, target, value,
                                     Database::bySettings))
        return failed(*error, 1);
    return 0;
}

std::optional<int> switchEntryPoint(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) return std::nullopt;
    const auto& root = Platform::SimulatedHost::root();
    auto points = Database::entryPoints(root);
    bool present = arguments[0] == "present";
    if (arguments[1] == "preflight") points.preflight = present;
    else if (arguments[1] == "request") points.request = present;
    else if (arguments[1] == "disclaim") points.disclaim = present;
    else return std::nullopt;
    if (auto error = Database::setEntryPoints(root, points)) return failed(*error, 1);
    return 0;
}

std::optional<int> disclaimFails(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2) return std::nullopt;
    const std::string& text = arguments[1];
    int code = 0;
    if (text != "off") {
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
        if (error != std::errc() || end != text.data() + text.size() || code == 0)
            return failed(text + " is no failure code (a whole number other than 0)", 64);
    }
    const auto& root = Platform::SimulatedHost::root();
    auto points = Database::entryPoints(root);
    points.disclaimResult = code;
    if (auto error = Database::setEntryPoints(root, points)) return failed(*error, 1);
    return 0;
}

} // namespace

std::optional<int> privacy(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return std::nullopt;
    const std::string& command = arguments[0];
    if (command == "list") return arguments.size() == 1 ? std::optional(list()) : std::nullopt;
    if (command == "absent" || command == "present") return switchEntryPoint(arguments);
    if (command == "disclaim-fails") return disclaimFails(arguments);
    return change(arguments);
}

} // namespace LumraSim
