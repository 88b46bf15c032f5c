// What a deleted app leaves behind, and links that should follow the app to
// its current copy. Everything is best effort: a failure is one log line
// and the next item is tried.

#include "AppInstallations/ImageWatch.hpp"

#include "Paths.hpp"

#include <Platform/Accounts.hpp>
#include <Platform/Credentials.hpp>
#include <Platform/MainBundle.hpp>
#include <Platform/Trash.hpp>
#include <Platform/User.hpp>
#include <Platform/UserDefaults.hpp>

#include <unistd.h>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;
using Platform::SimulatedHost::hostPath;
using Platform::SimulatedHost::macPath;

std::string library() { return Paths::standardized(Platform::homeDirectory().string()) + "/Library/"; }

// Where a link leads, as a standardized macOS path; none when it is no
// link or cannot be read.
std::optional<std::string> destination(const std::string& link) {
    std::error_code error;
    fs::path target = fs::read_symlink(hostPath(link), error);
    if (error) return std::nullopt;
    if (target.is_relative()) target = hostPath(link).parent_path() / target;
    return Paths::standardized(macPath(target.lexically_normal()));
}

bool isExecutableFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

// The processes running from inside `app` on the person's behalf. Another
// root daemon of the same app is left out: it would leave the work to this
// one as this one leaves it to it.
std::vector<pid_t> personsProcesses(const std::string& app) {
    std::vector<pid_t> found;
    for (pid_t pid : processes(app))
        if (Platform::Credentials::recordedUID(pid, Platform::SimulatedHost::root()) != Platform::Accounts::rootUID)
            found.push_back(pid);
    return found;
}

// Removes an item the app kept outside the person's home, as root: a folder
// still holding something is someone's and stays.
void removeKept(const std::string& path) {
    fs::path host = hostPath(path);
    std::error_code error;
    // symlink_status: a link to a folder is removed as a link, never
    // entered.
    if (fs::is_directory(fs::symlink_status(host, error))) {
        bool empty = fs::is_empty(host, error);
        if (error || !empty) {
            installLog().warn("left in place: not empty", [&] { return Log::Fields{{"path", path}}; });
            return;
        }
    }
    if (fs::remove(host, error) && !error) {
        installLog().info("removed", [&] { return Log::Fields{{"path", path}}; });
        return;
    }
    installLog().warn("could not remove", [&] { return Log::Fields{{"path", path}, {"err", error.message()}}; });
}

} // namespace

std::vector<std::string> ImageWatch::standardState(const std::string& of) const {
    if (system_->uid() == Platform::Accounts::rootUID || !isPlainIdentifier(of)) return {};
    std::string base = library();
    return {base + "Application Support/" + of, base + "Caches/" + of, base + "HTTPStorages/" + of,
            base + "WebKit/" + of, base + "Saved Application State/" + of + ".savedState"};
}

void ImageWatch::trash(const std::string& path) const {
    auto moved = Platform::Trash::moveToTrash(path);
    if (const auto* now = std::get_if<std::string>(&moved)) {
        installLog().info("moved to the Trash", [&] { return Log::Fields{{"path", path}, {"now", *now}}; });
        return;
    }
    if (!Paths::exists(path)) return;
    installLog().warn("could not move to the Trash", [&] {
        return Log::Fields{{"path", path}, {"err", std::get<Platform::Trash::Failure>(moved).text}};
    });
}

void ImageWatch::forget(const std::string& bundleID, const std::string& bundle, const std::vector<std::string>& keeps,
                        const std::vector<Link>& links) const {
    // The identifier names files and folders below: one that could be empty
    // or climb out ("..", "/") would send the wrong things to the Trash.
    bool plain = isPlainIdentifier(bundleID);
    if (plain)
        system_->writeTombstone(bundleID);
    else
        installLog().warn("not a plain identifier: its tombstone, state and preferences are left", [&] {
            return Log::Fields{{"id", bundleID}};
        });

    if (system_->uid() == Platform::Accounts::rootUID) {
        for (const auto& path : keeps)
            if (Paths::exists(path)) removeKept(path);
        return;
    }

    std::vector<std::string> items = standardState(bundleID);
    items.insert(items.end(), keeps.begin(), keeps.end());
    for (const auto& path : items)
        if (Paths::exists(path)) trash(path);

    std::string preferences = library() + "Preferences/" + bundleID + ".plist";
    if (plain && Paths::exists(preferences)) {
        auto keys = Platform::UserDefaults::keys(bundleID);
        if (!keys.empty()) {
            trash(preferences);
        } else {
            std::error_code ignored;
            fs::remove(hostPath(preferences), ignored);
        }
        installLog().info("preferences gone", [&] { return Log::Fields{{"domain", bundleID}, {"keys", keys}}; });
    }

    std::string prefix = Paths::standardized(bundle) + "/";
    for (const auto& link : links) {
        auto was = destination(link.path);
        if (!was || !was->starts_with(prefix)) continue;
        std::error_code error;
        if (fs::remove(hostPath(link.path), error) && !error)
            installLog().info("link removed", [&] { return Log::Fields{{"path", link.path}, {"was", *was}}; });
        else
            installLog().warn("could not remove link", [&] {
                return Log::Fields{{"path", link.path}, {"err", error.message()}};
            });
    }
}

void ImageWatch::repoint(const std::vector<Link>& links, const std::string& bundle, const std::string& bundleID) const {
    for (const auto& link : links) {
        auto was = destination(link.path);
        if (!was) continue;
        std::string expected = Paths::standardized(bundle + "/" + link.inBundle);
        if (*was == expected) continue;
        std::string inner = ".app/" + link.inBundle;
        if (link.inBundle.empty() || !was->ends_with(inner)) continue;
        std::string oldApp = was->substr(0, was->size() - link.inBundle.size() - 1);
        // A link into another app at the same inner place is that app's.
        if (Paths::exists(oldApp)) {
            auto identifier = Platform::readBundleIdentifier(hostPath(oldApp) / "Contents/Info.plist");
            if (!identifier || *identifier != bundleID) continue;
        }
        std::error_code error;
        fs::remove(hostPath(link.path), error);
        if (!error) fs::create_symlink(hostPath(expected), hostPath(link.path), error);
        if (error) {
            installLog().warn("could not re-point link", [&] {
                return Log::Fields{{"path", link.path}, {"err", error.message()}};
            });
            continue;
        }
        installLog().info("link re-pointed at this copy", [&] {
            return Log::Fields{{"path", link.path}, {"was", *was}, {"now", expected}};
        });
    }
}

void ImageWatch::forgetForPerson(const std::string& deleted) const {
    auto warnStays = [&](const std::string& message) {
        installLog().warn(message, [&] { return Log::Fields{{"was", deleted}}; });
    };
    // The running executable follows a move: after a drag to the Trash it is
    // there, still whole, and can run once more as the person.
    auto own = system_->ownExecutable();
    auto app = own ? AppInstallation::app(*own) : std::nullopt;
    auto executable = app ? Platform::bundleExecutable(hostPath(*app)) : std::nullopt;
    if (!executable || !isExecutableFile(*executable)) {
        warnStays("the deleted copy is gone: the person's side stays");
        return;
    }
    if (auto running = personsProcesses(*app); !running.empty()) {
        installLog().info("a process of the app forgets the person's side", [&] {
            return Log::Fields{{"pid", static_cast<int64_t>(running.front())}};
        });
        return;
    }
    auto name = Platform::Accounts::consoleUser();
    auto person = name ? Platform::Accounts::user(*name) : std::nullopt;
    if (!person || person->uid == Platform::Accounts::rootUID) {
        warnStays("nobody at the console: the person's side stays");
        return;
    }
    auto ran =
        system_->run("/bin/launchctl", {"asuser", std::to_string(person->uid), "/usr/bin/sudo", "-H", "-u",
                                        person->name, macPath(*executable), "--app-installation-forget", deleted});
    installLog().info("the deleted copy ran for the person", [&] {
        return Log::Fields{{"person", person->name}, {"status", ran.status}};
    });
}

} // namespace AppInstallation
