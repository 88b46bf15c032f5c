#include "BackgroundCommands.hpp"

#include <Platform/BackgroundServices.hpp>
#include <Platform/SimulatedHost.hpp>

#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>

namespace LumraSim {

namespace {

namespace Background = Platform::BackgroundServices;
using Decision = Background::Policy::Decision;
using Kind = Background::Handle::Kind;

const std::map<std::string, Kind> kinds{{"agent", Kind::agent}, {"daemon", Kind::daemon}, {"login-item", Kind::loginItem}};

template <class Number>
std::optional<Number> number(const std::string& text) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int cannotWrite() {
    std::cerr << "lumra-sim: the registry under " << Platform::SimulatedHost::root().string()
              << " cannot be written\n";
    return 1;
}

int list() {
    auto records = Background::records(Platform::SimulatedHost::root());
    if (records.empty()) std::cout << "no registrations\n";
    for (const auto& record : records)
        std::cout << record.domain << "\t" << record.identifier << "\t" << record.handle << "\t" << record.status
                  << " " << Background::statusWords(record.status) << "\t" << record.bundle << "\n";
    return 0;
}

int answer(const std::string& word, const std::string& identifier, const std::string& job) {
    auto answer = word == "approve" ? Background::Answer::approve : Background::Answer::deny;
    if (Background::answer(identifier, job, answer, Platform::SimulatedHost::root())) return 0;
    std::cerr << "lumra-sim: nothing registered as " << identifier << " " << job << "\n";
    return 1;
}

std::string words(const Background::Policy& policy) {
    std::string text = Background::decisionWord(policy.decision);
    if (policy.answer) {
        std::ostringstream after;
        after << policy.after;
        text += std::string(" (") + (*policy.answer == Background::Answer::approve ? "approve" : "deny") + " after " +
                after.str() + " s)";
    }
    return text;
}

std::optional<int> policy(const std::vector<std::string>& arguments) {
    const auto& root = Platform::SimulatedHost::root();
    if (arguments.size() == 1) {
        for (const auto& [word, kind] : kinds) std::cout << word << ": " << words(Background::policy(kind, root)) << "\n";
        return 0;
    }
    if (arguments.size() != 3 && arguments.size() != 5) return std::nullopt;
    auto kind = kinds.find(arguments[1]);
    auto decision = Background::decisionNamed(arguments[2]);
    if (kind == kinds.end() || !decision) return std::nullopt;
    Background::Policy chosen{*decision, {}, 0};
    if (arguments.size() == 5) {
        auto after = number<double>(arguments[4]);
        if (*decision != Decision::ask || (arguments[3] != "approve" && arguments[3] != "deny") || !after ||
            !std::isfinite(*after) || *after < 0)
            return std::nullopt;
        chosen.answer = arguments[3] == "approve" ? Background::Answer::approve : Background::Answer::deny;
        chosen.after = *after;
    }
    return Background::setPolicy(kind->second, chosen, root) ? 0 : cannotWrite();
}

std::optional<int> fail(const std::vector<std::string>& arguments) {
    const auto& root = Platform::SimulatedHost::root();
    if (arguments.size() == 2 && arguments[1] == "clear") return Background::clearFailures(root) ? 0 : cannotWrite();
    if (arguments.size() != 3 && arguments.size() != 4) return std::nullopt;
    if (arguments[1] != "register" && arguments[1] != "unregister") return std::nullopt;
    auto code = number<int32_t>(arguments[2]);
    auto times = arguments.size() == 4 ? number<unsigned>(arguments[3]) : std::optional<unsigned>(1);
    if (!code || *code == 0 || !times || *times == 0) return std::nullopt;
    auto call = arguments[1] == "register" ? Background::Call::registration : Background::Call::unregistration;
    return Background::queueFailure(call, *code, *times, root) ? 0 : cannotWrite();
}

} // namespace

std::optional<int> background(const std::vector<std::string>& arguments) {
    if (arguments.empty()) return std::nullopt;
    const std::string& command = arguments[0];
    if (command == "list" && arguments.size() == 1) return list();
    if ((command == "approve" || command == "deny") && arguments.size() == 3)
        return answer(command, arguments[1], arguments[2]);
    if (command == "policy") return policy(arguments);
    if (command == "fail") return fail(arguments);
    return std::nullopt;
}

} // namespace LumraSim
