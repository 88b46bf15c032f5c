#include "StateMachineSupport.hpp"

#include <LumraKit/Log.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>

// The settings clients change, the update-check bookkeeping and the status
// snapshot.
namespace LumraKit {

// MARK: - Settings

void StateMachine::setFloor(int percent) {
    config_.batteryFloorPercent = Config::floorRange.clamped(percent);
    world_.saveConfig(config_);
    log("floor set to " + std::to_string(config_.batteryFloorPercent) + "%");
    // A floor above the battery's level takes effect at once.
    tick();
    changed();
}

void StateMachine::setNotifyCommand(std::string_view command) {
    config_.notifyCommand = trimmingSpaces(command);
    world_.saveConfig(config_);
    log(config_.notifyCommand.empty() ? "notify hook cleared" : "notify hook set to " + config_.notifyCommand);
}

void StateMachine::setMenuDisplay(bool on) {
    if (config_.menuDisplay == on) return;
    config_.menuDisplay = on;
    world_.saveConfig(config_);
    apply();
}

void StateMachine::setUpdateCheck(bool on) {
    config_.updateCheck = on;
    world_.saveConfig(config_);
    log(std::string("update check ") + (on ? "on (daily)" : "off"));
}

void StateMachine::rememberDuration(int minutes) {
    if (config_.lastMinutes == minutes) return;
    config_.lastMinutes = minutes;
    world_.saveConfig(config_);
}

std::string StateMachine::installID() {
    if (!config_.installID) {
        config_.installID = lowercased(UUID::random().text());
        world_.saveConfig(config_);
    }
    return *config_.installID;
}

// MARK: - Update check

bool StateMachine::updateCheckDue() const {
    if (!config_.updateCheck) return false;
    return !config_.nextUpdateCheck || *config_.nextUpdateCheck <= world_.now();
}

std::optional<std::string> StateMachine::recordUpdateCheck(const std::optional<std::string>& latest,
                                                           std::string_view running) {
    using std::chrono::seconds;
    if (!latest) {
        config_.nextUpdateCheck = world_.now() + seconds(3600);
        world_.saveConfig(config_);
        return std::nullopt;
    }
    config_.nextUpdateCheck = world_.now() + seconds(86400);
    config_.latestVersion = latest;
    // Each newer version is announced once.
    bool announce = versionIsNewer(*latest, running) && config_.updateAnnounced != latest;
    if (announce) config_.updateAnnounced = latest;
    world_.saveConfig(config_);
    log("update check: latest " + *latest + ", running " + std::string(running) + (announce ? ", announcing" : ""));
    return announce ? latest : std::nullopt;
}

namespace {

// The dot-separated pieces as numbers; empty pieces are dropped and a piece
// that is no integer counts as 0.
std::vector<long long> versionNumbers(std::string_view version) {
    std::vector<long long> numbers;
    while (!version.empty()) {
        size_t dot = version.find('.');
        std::string_view piece = version.substr(0, dot);
        version = dot == std::string_view::npos ? std::string_view() : version.substr(dot + 1);
        if (piece.empty()) continue;
        // One optional sign; from_chars takes only the minus.
        std::string_view digits = piece.front() == '+' ? piece.substr(1) : piece;
        long long number = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        bool whole = error == std::errc() && end == digits.data() + digits.size() &&
                     !(piece.front() == '+' && digits.starts_with('-'));
        numbers.push_back(whole ? number : 0);
    }
    return numbers;
}

} // namespace

bool versionIsNewer(std::string_view a, std::string_view than) {
    std::vector<long long> left = versionNumbers(a), right = versionNumbers(than);
    for (size_t at = 0; at < std::max(left.size(), right.size()); ++at) {
        long long x = at < left.size() ? left[at] : 0;
        long long y = at < right.size() ? right[at] : 0;
        if (x != y) return x > y;
    }
    return false;
}

// MARK: - Status

Status StateMachine::status() {
    tick();
    return snapshot();
}

Status StateMachine::snapshot() const {
    Status status;
    status.claims = claims_;
    std::stable_sort(status.claims.begin(), status.claims.end(),
                     [](const Claim& a, const Claim& b) { return a.startedAt < b.startedAt; });
    status.sleepDisabled = sleepDisabled();
    status.power = world_.power();
    status.floor = config_.batteryFloorPercent;
    status.notifyCommand = config_.notifyCommand;
    status.keepDisplay = config_.menuDisplay;
    status.lidArmed = lidArmed();
    status.askPending = askPending();
    status.thermalCritical = world_.thermalCritical();
    status.notifications = world_.notificationReach();
    status.suspendedSince = suspendedSince_;
    status.updateCheck = config_.updateCheck;
    status.latestVersion = config_.latestVersion;
    status.otherHolders = world_.otherHolders();
    status.displayHold = world_.displayHold();
    return status;
}

} // namespace LumraKit
