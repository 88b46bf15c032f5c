#include "LumraKit/Wire.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace LumraKit {

namespace {

constexpr std::array<std::string_view, 12> caseNames{
    "engage",  "end",     "status", "setFloor",       "setNotifyCommand", "setKeepDisplay",
    "allowLid", "denyLid", "suspend", "resume", "setUpdateCheck", "handBack",
};

} // namespace

std::string_view Command::name() const { return caseNames[static_cast<size_t>(kind_)]; }

std::optional<Command::Kind> Command::kindNamed(std::string_view name) {
    for (size_t index = 0; index < caseNames.size(); ++index)
        if (caseNames[index] == name) return static_cast<Kind>(index);
    return std::nullopt;
}

void Command::wrongCase(const char* payload) const {
    std::fprintf(stderr, "LumraKit: precondition failed: Command::%s() of the command %.*s\n", payload,
                 static_cast<int>(name().size()), name().data());
    std::abort();
}

const Claim& Command::claim() const {
    if (kind_ != Kind::engage) wrongCase("claim");
    return std::get<Claim>(payload_);
}

const std::optional<std::string>& Command::selector() const {
    if (kind_ != Kind::end && kind_ != Kind::allowLid && kind_ != Kind::denyLid) wrongCase("selector");
    return std::get<std::optional<std::string>>(payload_);
}

int64_t Command::floor() const {
    if (kind_ != Kind::setFloor) wrongCase("floor");
    return std::get<int64_t>(payload_);
}

const std::string& Command::text() const {
    if (kind_ != Kind::setNotifyCommand) wrongCase("text");
    return std::get<std::string>(payload_);
}

bool Command::on() const {
    if (kind_ != Kind::setKeepDisplay && kind_ != Kind::setUpdateCheck) wrongCase("on");
    return std::get<bool>(payload_);
}

} // namespace LumraKit
