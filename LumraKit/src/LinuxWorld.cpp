#include "LumraKit/LinuxWorld.hpp"
#include "LumraKit/Log.hpp"

#include "linux/Bus.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// The holds of the Linux world: login manager locks, the session's screen
// saver, the lid lock and its vanishing, the others' locks, and Suspend.
namespace LumraKit {

using Linux::Bus;
using Linux::BusError;
using Linux::Reply;

namespace {

constexpr const char* login1 = "org.freedesktop.login1";
constexpr const char* login1Path = "/org/freedesktop/login1";
constexpr const char* login1Manager = "org.freedesktop.login1.Manager";
constexpr const char* screenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* idleWhat = "idle";

// The polkit actions the login manager checks for a block lock on sleep and
// the lid switch.
constexpr const char* lidAuthorisations =
    "org.freedesktop.login1.inhibit-block-sleep and org.freedesktop.login1.inhibit-handle-lid-switch";

// Whether the colon-separated `what` of a lock holds off sleep in any form.
bool holdsOffSleep(const std::string& what) {
    size_t start = 0;
    while (start <= what.size()) {
        size_t end = what.find(':', start);
        std::string item = what.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (item == "idle" || item == "sleep" || item == "handle-lid-switch") return true;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

void closeDescriptor(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

struct LinuxWorld::Listed {
    std::string what, who, why, mode;
    uint32_t uid = 0, pid = 0;

    bool ours(const std::string& ourWhat, const std::string& ourWhy) const {
        return who == LinuxWorld::who && mode == "block" && what == ourWhat && why == ourWhy;
    }
};

LinuxWorld::LinuxWorld(const Paths& paths, Facilities facilities)
    : StoredWorld(paths), system_(std::make_unique<Bus>(Bus::Kind::system, std::move(facilities.systemBus))),
      session_(std::make_unique<Bus>(Bus::Kind::session, std::move(facilities.sessionBus))),
      thermalZones_(std::move(facilities.thermalZones)) {}

LinuxWorld::~LinuxWorld() {
    for (auto& [id, hold] : holds_) closeDescriptor(hold.fd);
    closeDescriptor(lidFd_);
    // Screen saver cookies end with the session bus connection.
}

void LinuxWorld::warnOnce(const std::string& key, const std::string& message) {
    if (warned_.insert(key).second) log("warning: " + message);
}

// MARK: - Locks

std::optional<int> LinuxWorld::inhibit(const std::string& what, const std::string& why, std::string* refusal) {
    auto reply = system_->call(login1, login1Path, login1Manager, "Inhibit", "ssss", what.c_str(), who, why.c_str(),
                               "block");
    if (auto* error = std::get_if<BusError>(&reply)) {
        if (refusal) {
            if (error->accessDenied())
                *refusal = std::string("The polkit authorisation to hold the machine awake with the lid closed is "
                                       "missing (") +
                           lidAuthorisations + "): " + error->message;
            else if (error->unreachable())
                *refusal = "The login manager (systemd-logind) is not on the system bus, so the lid cannot be held: " +
                           error->text();
            else
                *refusal = "The login manager refused the lid lock: " + error->text();
        }
        warnOnce("inhibit:" + what, "the login manager gave no \"" + what + "\" lock: " + error->text());
        return std::nullopt;
    }
    int fd = -1;
    if (sd_bus_message_read_basic(std::get<Reply>(reply).get(), 'h', &fd) <= 0) {
        if (refusal) *refusal = "The login manager answered the lid lock without a descriptor.";
        return std::nullopt;
    }
    // The reply owns its descriptor; ours must not reach the children the
    // service starts, or a lock would outlive the service.
    int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) {
        if (refusal) *refusal = "The lid lock's descriptor could not be kept.";
        return std::nullopt;
    }
    return own;
}

std::optional<uint32_t> LinuxWorld::screenSaverInhibit() {
    if (!session_->hasOwner(screenSaver)) return std::nullopt;
    auto reply = session_->call(screenSaver, screenSaverPath, screenSaver, "Inhibit", "ss", who, displayWhy);
    uint32_t cookie = 0;
    if (auto* error = std::get_if<BusError>(&reply)) {
        warnOnce("screensaver", "the session's screen saver refused to stay off (" + error->text() +
                                    "): the display is held by an idle lock");
        return std::nullopt;
    }
    if (sd_bus_message_read_basic(std::get<Reply>(reply).get(), 'u', &cookie) <= 0) return std::nullopt;
    return cookie;
}

uint32_t LinuxWorld::createAssertion(Mode mode) {
    if (mode == Mode::lid) {
        std::fprintf(stderr, "Fatal error: lid is the lid lock, not an assertion\n");
        std::abort();
    }
    Hold hold;
    hold.what = idleWhat;
    hold.why = mode == Mode::display ? displayWhy : idleWhy;
    if (mode == Mode::display) hold.cookie = screenSaverInhibit();
    if (!hold.cookie) {
        auto fd = inhibit(hold.what, hold.why, nullptr);
        if (!fd) return 0; // not held: the engine asks again on its next change
        hold.fd = *fd;
    }
    uint32_t id = nextID_++;
    if (nextID_ == 0) nextID_ = 1;
    holds_[id] = std::move(hold);
    return id;
}

void LinuxWorld::releaseAssertion(uint32_t id) {
    auto found = holds_.find(id);
    if (found == holds_.end()) {
        log("hold " + std::to_string(id) + " not released: no such hold");
        return;
    }
    Hold& hold = found->second;
    closeDescriptor(hold.fd);
    if (hold.cookie) {
        auto reply = session_->call(screenSaver, screenSaverPath, screenSaver, "UnInhibit", "u", *hold.cookie);
        if (auto* error = std::get_if<BusError>(&reply))
            log("screen saver hold " + std::to_string(*hold.cookie) + " not released: " + error->text());
    }
    holds_.erase(found);
}

// MARK: - The lid lock

std::optional<std::vector<LinuxWorld::Listed>> LinuxWorld::listInhibitors(bool* gone) {
    *gone = false;
    auto reply = system_->call(login1, login1Path, login1Manager, "ListInhibitors", "");
    if (auto* error = std::get_if<BusError>(&reply)) {
        *gone = error->unreachable();
        warnOnce("list", "the login manager does not list its locks: " + error->text());
        return std::nullopt;
    }
    sd_bus_message* message = std::get<Reply>(reply).get();
    std::vector<Listed> listed;
    if (sd_bus_message_enter_container(message, 'a', "(ssssuu)") < 0) return std::nullopt;
    const char *what = nullptr, *whoText = nullptr, *why = nullptr, *mode = nullptr;
    uint32_t uid = 0, pid = 0;
    while (sd_bus_message_read(message, "(ssssuu)", &what, &whoText, &why, &mode, &uid, &pid) > 0)
        listed.push_back({what, whoText, why, mode, uid, pid});
    return listed;
}

bool LinuxWorld::keepHolds(const std::vector<Listed>& listed) {
    std::vector<bool> claimed(listed.size(), false);
    // Each of our locks accounts for one listed entry of its kind.
    auto present = [&](const std::string& what, const std::string& why) {
        for (size_t i = 0; i < listed.size(); ++i)
            if (!claimed[i] && listed[i].ours(what, why)) {
                claimed[i] = true;
                return true;
            }
        return false;
    };

    if (lidFd_ >= 0 && !present(lidWhat, lidWhy)) {
        log("the lid lock vanished from the login manager's list: taking the lid as switched off from outside");
        closeDescriptor(lidFd_);
        return false; // every claim ends; the idle locks go with them
    }
    for (auto& [id, hold] : holds_) {
        if (hold.cookie || (hold.fd >= 0 && present(hold.what, hold.why))) continue;
        if (hold.fd >= 0) log("the \"" + hold.what + "\" lock vanished from the login manager's list: taking it again");
        closeDescriptor(hold.fd);
        hold.fd = inhibit(hold.what, hold.why, nullptr).value_or(-1);
    }
    return lidFd_ >= 0;
}

bool LinuxWorld::sleepDisabled() {
    bool holdsLocks = lidFd_ >= 0;
    for (const auto& [id, hold] : holds_) holdsLocks = holdsLocks || !hold.cookie;
    if (!holdsLocks) return false;

    bool gone = false;
    auto listed = listInhibitors(&gone);
    // Unable to tell, with the login manager there: the lock stands.
    if (!listed && !gone) return lidFd_ >= 0;
    return keepHolds(listed.value_or(std::vector<Listed>{}));
}

LidResult LinuxWorld::setSleepDisabled(bool on) {
    if (!on) {
        closeDescriptor(lidFd_);
        return LidResult::ok();
    }
    if (lidFd_ >= 0) return LidResult::ok();
    std::string refusal;
    auto fd = inhibit(lidWhat, lidWhy, &refusal);
    if (!fd) return LidResult::refused(refusal);
    lidFd_ = *fd;
    return LidResult::ok();
}

void LinuxWorld::sleepNow() {
    auto reply = system_->call(login1, login1Path, login1Manager, "Suspend", "b", 0);
    if (auto* error = std::get_if<BusError>(&reply)) log("logind Suspend failed: " + error->text());
}

// MARK: - For the status

std::optional<std::vector<OtherHolder>> LinuxWorld::otherHolders() {
    bool gone = false;
    auto listed = listInhibitors(&gone);
    if (!listed) return std::nullopt;

    // Ours are taken out one for one, so another service with the same texts
    // still shows.
    std::vector<std::pair<std::string, std::string>> ours;
    if (lidFd_ >= 0) ours.emplace_back(lidWhat, lidWhy);
    for (const auto& [id, hold] : holds_)
        if (hold.fd >= 0) ours.emplace_back(hold.what, hold.why);

    std::vector<OtherHolder> holders;
    for (const Listed& entry : *listed) {
        auto mine = std::find_if(ours.begin(), ours.end(),
                                 [&](const auto& lock) { return entry.ours(lock.first, lock.second); });
        if (mine != ours.end()) {
            ours.erase(mine);
            continue;
        }
        // A delay lock only postpones sleep for moments; it keeps nothing awake.
        if (entry.mode != "block" || !holdsOffSleep(entry.what)) continue;
        holders.push_back({entry.who, entry.why, entry.what, entry.mode, static_cast<int32_t>(entry.pid)});
    }
    return holders;
}

std::optional<std::string> LinuxWorld::displayHold() {
    for (const auto& [id, hold] : holds_)
        if (hold.why == displayWhy) return hold.cookie ? "screenSaver" : "idleInhibitor";
    return session_->hasOwner(screenSaver) ? "screenSaver" : "idleInhibitor";
}

} // namespace LumraKit
