#include "AppInstallations/ImageWatch.hpp"

#include "AppInstallations/Records.hpp"
#include "AppInstallations/Settlement.hpp"
#include "Paths.hpp"

#include <Platform/MainBundle.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace AppInstallation {

namespace {

constexpr std::string_view forgetSwitchName = "--app-installation-forget";
constexpr std::string_view staleSwitchName = "--app-installation-stale";

// The value after the first `name` that has one.
std::optional<std::string> valueOf(std::string_view name, const std::vector<std::string>& arguments) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == name) return arguments[i + 1];
    return std::nullopt;
}

void refuse(const std::string& why, const std::string& path) {
    installLog().warn("not watching the image: " + why, [&] { return Log::Fields{{"path", path}}; });
}

// The volume folder ("/Volumes/<name>") a path lies on, if any.
std::optional<std::string> volumeOf(const std::string& path) {
    constexpr std::string_view volumes = "/Volumes/";
    std::string standard = Paths::standardized(path);
    if (!standard.starts_with(volumes)) return std::nullopt;
    size_t end = standard.find('/', volumes.size());
    std::string volume = standard.substr(0, end);
    if (volume.size() == volumes.size()) return std::nullopt;
    return volume;
}

} // namespace

ImageWatch::ImageWatch(Watched watched, std::shared_ptr<const WatchSystem> system)
    : watched_(std::move(watched)), system_(std::move(system)) {}

std::optional<Watched> ImageWatch::running(const std::vector<std::string>& keeps, const std::vector<Link>& links,
                                           int goneAfter, std::function<void()> beforeLeaving) {
    auto system = WatchSystem::live();
    auto path = system->ownExecutable();
    auto found = path ? app(*path) : std::nullopt;
    if (!found) {
        refuse("the process runs from no app bundle", path.value_or("?"));
        return std::nullopt;
    }
    auto identifier = Platform::readBundleIdentifier(Platform::SimulatedHost::hostPath(*found) / "Contents/Info.plist");
    if (!identifier || identifier->empty()) {
        refuse("the app has no bundle identifier", *found);
        return std::nullopt;
    }
    FileLook look = system->look(*path);
    if (look.error != 0) {
        refuse("the image cannot be read", *path);
        return std::nullopt;
    }
    auto requirement = Platform::CodeSigning::designatedRequirement(Platform::SimulatedHost::hostPath(*path));
    if (!requirement) {
        refuse("the code is not signed", *path);
        return std::nullopt;
    }
    Watched watched{*path,
                    look.inode,
                    *requirement,
                    {},
                    {},
                    *identifier,
                    *found,
                    keeps,
                    links,
                    goneAfter,
                    std::move(beforeLeaving)};
    if (auto own = ownJob()) {
        watched.job = own->label;
        watched.jobPlist = own->plist;
    }
    return watched;
}

std::shared_ptr<ImageWatch> ImageWatch::start(const std::vector<Job>& jobs, const std::vector<std::string>& keeps,
                                              const std::vector<Link>& links, Platform::Duration every, int goneAfter,
                                              std::function<void()> beforeLeaving,
                                              const std::vector<std::string>& arguments) {
    auto watched = running(keeps, links, goneAfter, std::move(beforeLeaving));
    if (!watched) return nullptr;
    return start(std::move(*watched), WatchSystem::live(), jobs, every, arguments);
}

std::shared_ptr<ImageWatch> ImageWatch::start(Watched watched, std::shared_ptr<const WatchSystem> system,
                                              const std::vector<Job>& jobs, Platform::Duration every,
                                              const std::vector<std::string>& arguments) {
    auto watch = std::make_shared<ImageWatch>(std::move(watched), system);
    const Watched& w = watch->watched_;
    installLog().info("watching the image", [&] {
        return Log::Fields{{"path", w.path}, {"as", w.job.value_or("the app")}};
    });
    system->claimRecords();
    if (!w.job) {
        if (auto deleted = valueOf(forgetSwitchName, arguments)) {
            watch->forgetSwitch(*deleted);
            return nullptr;
        }
        if (std::holds_alternative<Home::Installed>(homeOf(w.bundle).place))
            watch->repoint(w.links, w.bundle, w.bundleID);
        if (std::find(arguments.begin(), arguments.end(), staleSwitchName) != arguments.end()) {
            system->settle(w.bundle, jobs, arguments);
            installLog().info("registered for this copy; exiting", [&] { return Log::Fields{{"path", w.bundle}}; });
            system->exit(0);
            return nullptr;
        }
        // Settling may wait a minute for the person's approval; the watch
        // goes on meanwhile.
        std::thread([system, bundle = w.bundle, jobs, arguments] { system->settle(bundle, jobs, arguments); }).detach();
    }
    watch->begin(every);
    return watch;
}

void ImageWatch::forgetSwitch(const std::string& value) const {
    std::string was = Paths::standardized(value);
    std::string why;
    // Anyone can start the app with the switch: it must name a copy that
    // was here and is gone, never a live one, least of all this one.
    if (!value.starts_with("/") || !was.ends_with(".app") || Paths::name(was) == ".app")
        why = "not the path of an app";
    else if (was == Paths::standardized(watched_.bundle))
        why = "this copy";
    else if (Paths::exists(was))
        why = "something is still there";
    if (!why.empty()) {
        installLog().warn("the forget switch names no deleted copy: ignored", [&] {
            return Log::Fields{{"was", value}, {"copy", watched_.bundle}, {"why", why}};
        });
        system_->exit(0);
        return;
    }
    installLog().warn("forgetting the deleted app for this person", [&] {
        return Log::Fields{{"was", was}, {"copy", watched_.bundle}};
    });
    forget(watched_.bundleID, was, watched_.keeps, watched_.links);
    system_->exit(0);
}

void ImageWatch::begin(Platform::Duration every) {
    std::weak_ptr<ImageWatch> weak = weak_from_this();
    auto timer = Platform::repeating(Platform::utilityQueue(), every, [weak] {
        if (auto self = weak.lock()) self->tick();
    });
    std::lock_guard guard(timerLock_);
    timer_ = std::move(timer);
}

void ImageWatch::stop() {
    left_ = true;
    std::lock_guard guard(timerLock_);
    if (timer_) timer_->cancel();
}

void ImageWatch::tick() {
    if (left_) return;
    FileLook look = system_->look(watched_.path);
    if (look.error == 0) {
        gone_ = 0;
        unreadable_ = 0;
        if (look.inode != watched_.inode) newImage();
        return;
    }
    // Only a name that is gone means the image is: a file that cannot be
    // read now (permissions, an I/O error) may be fine again later, and
    // forgetting would trash the person's data for nothing.
    if (look.error != ENOENT && look.error != ENOTDIR) {
        if (look.error != unreadable_)
            installLog().warn("the image cannot be read: nothing done", [&] {
                return Log::Fields{{"path", watched_.path}, {"err", std::string(std::strerror(look.error))}};
            });
        unreadable_ = look.error;
        return;
    }
    unreadable_ = 0;
    imageMissing();
}

void ImageWatch::imageMissing() {
    const Watched& w = watched_;
    int gone = ++gone_;
    installLog().info("executable missing", [&] {
        return Log::Fields{{"path", w.path}, {"tick", gone}, {"of", w.goneAfter}};
    });
    if (gone < w.goneAfter) return;

    auto leaving = [&] {
        if (w.beforeLeaving) w.beforeLeaving();
        stop();
    };
    if (auto moved = movedCopy(w.bundleID, Paths::name(w.bundle), w.bundle, w.inode)) {
        installLog().info("the app moved: leaving, nothing forgotten", [&] {
            return Log::Fields{{"from", w.bundle}, {"to", *moved}};
        });
        leaving();
        system_->leave(w.job, moved, w.jobPlist);
        return;
    }
    // An ejected disk takes the app along without deleting it.
    if (auto volume = volumeOf(w.bundle); volume && !Paths::exists(*volume)) {
        installLog().warn("the app's volume is gone: leaving, nothing forgotten", [&] {
            return Log::Fields{{"path", w.bundle}, {"volume", *volume}};
        });
        leaving();
        system_->leave(w.job, std::nullopt, std::nullopt);
        return;
    }
    installLog().warn("the app was deleted: cleaning up and leaving", [&] { return Log::Fields{{"path", w.bundle}}; });
    leaving();
    if (w.job) {
        forget(w.bundleID, w.bundle, w.keeps, w.links);
        if (system_->uid() == Platform::Accounts::rootUID) forgetForPerson(w.bundle);
    } else {
        system_->atExit([self = shared_from_this()] {
            const Watched& w = self->watched_;
            self->forget(w.bundleID, w.bundle, w.keeps, w.links);
        });
    }
    system_->leave(w.job, std::nullopt, std::nullopt);
}

void ImageWatch::newImage() {
    const Watched& w = watched_;
    if (!system_->whole(w.path, w.bundle, w.requirement)) {
        installLog().info("a new image, not whole yet", [&] { return Log::Fields{{"path", w.path}}; });
        return;
    }
    installLog().info("a new image is in place: running it", [&] { return Log::Fields{{"path", w.path}}; });
    if (w.beforeLeaving) w.beforeLeaving();
    if (w.job) {
        stop();
        if (w.jobPlist) {
            uint32_t uid = system_->uid();
            system_->handOver(launchdTarget(*w.job, uid == Platform::Accounts::rootUID, uid), *w.jobPlist, w.bundle);
        }
        system_->exit(0);
        return;
    }
    // A reopen that fails keeps this process running: the inode stays the
    // old one, so the next tick tries again.
    system_->reopen("an upgrade landed");
}

} // namespace AppInstallation
