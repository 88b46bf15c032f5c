// lumra-sim's commands for the person at the machine and application
// events: open prompts, hand answers, activation and distributed
// notifications.

#include "PersonCommands.hpp"

#include <Platform/AppEvents.hpp>
#include <Platform/Person.hpp>
#include <Platform/SimulatedHost.hpp>

#include <nlohmann/json.hpp>

#include <charconv>
#include <iostream>

namespace {

// Quoted as JSON, so that nothing in a prompt can move the cursor.
std::string quoted(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

int listPrompts() {
    auto open = Platform::openPrompts(Platform::SimulatedHost::root());
    if (open.empty()) std::cout << "no open prompts\n";
    for (const auto& each : open) {
        std::string choices;
        for (const auto& choice : each.prompt.choices) choices += (choices.empty() ? "" : "|") + choice;
        std::cout << each.id << "  " << each.prompt.kind << "  " << quoted(each.prompt.subject) << "  asked by "
                  << (each.asker.bundleID ? *each.asker.bundleID : std::string("a process without a bundle"))
                  << " (pid " << each.asker.pid << ")  answers: " << choices << "\n"
                  << "    " << quoted(each.prompt.text) << "\n";
    }
    return 0;
}

int answer(const std::string& id, const std::string& given) {
    if (auto refused = Platform::answerPrompt(Platform::SimulatedHost::root(), id, given)) {
        std::cerr << "lumra-sim: " << *refused << "\n";
        return 1;
    }
    return 0;
}

std::optional<pid_t> pidNamed(const std::string& text) {
    pid_t pid = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 0) return std::nullopt;
    return pid;
}

int activate(const std::string& target) {
    Platform::Asker app;
    if (!target.empty() && target.find_first_not_of("0123456789") == std::string::npos) {
        auto pid = pidNamed(target);
        if (!pid) {
            std::cerr << "lumra-sim: " << target << " is no process id\n";
            return 64;
        }
        app.pid = *pid;
    } else {
        app.bundleID = target;
    }
    Platform::activateApp(Platform::SimulatedHost::root(), app);
    return 0;
}

} // namespace

std::optional<int> personCommand(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return std::nullopt;
    const std::string& command = arguments[0];
    if (command == "prompts" && arguments.size() == 1) return listPrompts();
    if (command == "answer" && arguments.size() == 3) return answer(arguments[1], arguments[2]);
    if (command == "activate" && arguments.size() == 2 && !arguments[1].empty()) return activate(arguments[1]);
    if (command == "post" && arguments.size() == 2 && !arguments[1].empty()) {
        Platform::postAppEvent(Platform::SimulatedHost::root(), arguments[1]);
        return 0;
    }
    return std::nullopt;
}
