#include "LidGrant.hpp"

#include <Grant.hpp>
#include <LumraKit/Identity.hpp>
#include <Platform/SimulatedHost.hpp>

#include <fstream>
#include <iterator>

namespace LumraApp {

namespace {

using PermissionGrants::Standing;

// A drop-in is one short line; anything much longer is not one.
constexpr std::streamsize largestDropIn = 64 * 1024;

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(static_cast<size_t>(largestDropIn) + 1, '\0');
    in.read(text.data(), largestDropIn + 1);
    if (in.bad() || in.gcount() > largestDropIn) return std::nullopt;
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

Standing read(const std::filesystem::path& dropIn, const std::string& user) {
    auto text = readSmallFile(dropIn);
    // Not installed yet: the grant's why says what it is for.
    if (!text) return Standing::askable(std::string(LidGrant::actionTitle));
    if (auto wrong = Client::Grant::check(*text, user))
        return Standing::askable(std::string(LidGrant::actionTitle),
                                 "The sudoers grant in place does not fit: " + *wrong + ".");
    return Standing::good();
}

} // namespace

LidGrant::LidGrant(std::filesystem::path dropIn, std::string user) : state_(std::make_shared<State>()) {
    state_->dropIn = std::move(dropIn);
    state_->user = std::move(user);
    recheck();
}

LidGrant LidGrant::forThisMachine() {
    namespace SimulatedHost = Platform::SimulatedHost;
    return LidGrant(SimulatedHost::hostPath(LumraKit::Paths::current().sudoers), SimulatedHost::userName());
}

PermissionGrants::PermissionGrant LidGrant::grant(std::function<void()> showCommand) const {
    return PermissionGrants::PermissionGrant(
        "Sleep with the lid closed",
        "Lets lumrad keep this Mac awake with its lid closed. An admin allows it once, in a terminal.",
        "moon", false, [state = state_] {
            state->registrar.access();
            std::lock_guard lock(state->lock);
            return state->standing;
        },
        std::move(showCommand));
}

Standing LidGrant::standing() const {
    std::lock_guard lock(state_->lock);
    return state_->standing;
}

bool LidGrant::recheck() {
    Standing now = read(state_->dropIn, state_->user);
    {
        std::lock_guard lock(state_->lock);
        if (now == state_->standing) return false;
        state_->standing = now;
    }
    state_->registrar.didChange();
    return true;
}

} // namespace LumraApp
