#include "AccountCommands.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/SimulatedHost.hpp>

#include <iostream>

namespace SimCommands {

namespace {

namespace Accounts = Platform::Accounts;

int listUsers() {
    Accounts::Directory directory = Accounts::load(Platform::SimulatedHost::root());
    for (const auto& user : directory.users) {
        std::string groups;
        for (const auto& group : directory.groupsOf(user.name))
            groups += (groups.empty() ? "" : ",") + group.name + "(" + std::to_string(group.gid) + ")";
        std::cout << user.name << " uid=" << user.uid << " groups=" << groups << " home=" << user.home
                  << (user.passwordHash.empty() ? "" : " password=set") << "\n";
    }
    std::cout << "console: " << directory.console.value_or("none") << "\n";
    return 0;
}

int unknownUser(const std::string& name) {
    std::cerr << "lumra-sim: no user named " << name << " (or the accounts cannot be written)\n";
    return 1;
}

} // namespace

std::optional<int> runAccountCommand(const std::vector<std::string>& arguments) {
    const auto& root = Platform::SimulatedHost::root();
    if (arguments.empty()) return std::nullopt;
    const std::string& command = arguments[0];
    if (command == "console" && arguments.size() == 2) {
        std::optional<std::string> name;
        if (arguments[1] != "none") name = arguments[1];
        return Accounts::setConsole(name, root) ? 0 : unknownUser(arguments[1]);
    }
    if (command != "user") return std::nullopt;
    if (arguments.size() == 1) return listUsers();
    std::string name = arguments.size() == 4 ? arguments[3] : Accounts::person().name;
    if (arguments.size() < 3 || arguments.size() > 4) return std::nullopt;
    if (arguments[1] == "admin" && (arguments[2] == "on" || arguments[2] == "off"))
        return Accounts::setAdmin(name, arguments[2] == "on", root) ? 0 : unknownUser(name);
    if (arguments[1] == "password")
        return Accounts::setPassword(name, arguments[2], root) ? 0 : unknownUser(name);
    return std::nullopt;
}

} // namespace SimCommands
