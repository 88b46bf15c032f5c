#pragma once

#include "AppInstallations/Job.hpp"
#include "AppInstallations/System.hpp"

#include <Platform/Clock.hpp>
#include <Platform/CodeSigning.hpp>
#include <Platform/Dispatch.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Every process of the app watches its own executable (its image) on disk:
// a moved app is reopened from its new place and its jobs handed over, a
// deleted app's traces are removed, an upgraded app is restarted once the
// new image is whole. Starting the watch is also where a launch of the app
// claims its Launch Services records, acts on the installation switches and
// settles its jobs. Paths are macOS paths.
namespace AppInstallation {

// A symbolic link the app placed outside its bundle, pointing at `inBundle`
// inside it.
struct Link {
    std::string path;
    std::string inBundle;
    bool operator==(const Link&) const = default;
};

// A look at a file: its inode, or the errno of the stat that failed.
struct FileLook {
    uint64_t inode = 0;
    int error = 0; // 0: the file is there
    bool operator==(const FileLook&) const = default;
};

// What the watch does to the machine and to the rest of the app. The live
// one is the running process's; tests hand in fakes.
struct WatchSystem {
    std::function<FileLook(const std::string& path)> look;
    // ImageWatch::whole, as a test may want it.
    std::function<bool(const std::string& path, const std::string& bundle,
                       const Platform::CodeSigning::Requirement& requirement)>
        whole;
    std::function<std::vector<std::string>(const std::string& identifier)> indexedCopies;
    std::function<void()> claimRecords;
    std::function<void(const std::string& bundle, const std::vector<Job>& own,
                       const std::vector<std::string>& arguments)>
        settle;
    std::function<void(const std::string& identifier)> writeTombstone;
    std::function<void(const std::string& target, const std::string& key, const std::string& to)> handOver;
    // With a job label the live one never returns.
    std::function<void(const std::optional<std::string>& job, const std::optional<std::string>& reopening,
                       const std::optional<std::string>& handoff)>
        leave;
    std::function<void(const std::string& why)> reopen;
    std::function<void(std::function<void()> work)> atExit;
    // The live one never returns.
    std::function<void(int32_t status)> exit;
    std::function<ToolResult(const std::string& tool, const std::vector<std::string>& args)> run;
    // Who this process runs as on the machine.
    std::function<uint32_t()> uid;
    // The running executable where it is now (it follows a move), links
    // resolved.
    std::function<std::optional<std::string>()> ownExecutable;

    static std::shared_ptr<const WatchSystem> live();
};

// What a watch knows of its process, read once at start.
struct Watched {
    std::string path; // the running executable, links resolved
    uint64_t inode = 0;
    Platform::CodeSigning::Requirement requirement;
    std::optional<std::string> job;      // the launchd label, for a job process
    std::optional<std::string> jobPlist; // that job's definition file name
    std::string bundleID;
    std::string bundle;
    std::vector<std::string> keeps; // paths that go when the app is deleted
    std::vector<Link> links;
    int goneAfter = 1; // ticks the image may be missing before acting
    // The app's last words before the process leaves; any thread.
    std::function<void()> beforeLeaving;
};

// One per process. tick() runs on the watch's timer queue, one at a time;
// everything else on any thread. The timer holds the watch weakly: letting
// go of the last shared_ptr stops it.
class ImageWatch : public std::enable_shared_from_this<ImageWatch> {
public:
    // Starts the watch of the running process: claims the records, acts on
    // `arguments` (the app's launch switches; a launchd job ignores them),
    // settles the jobs and ticks every `every` (simulated time). The process
    // must run from a signed app bundle with an identifier; otherwise the
    // answer is none, with a log line. `beforeLeaving` runs on the watch's
    // queue before the process leaves.
    static std::shared_ptr<ImageWatch> start(const std::vector<Job>& jobs, const std::vector<std::string>& keeps,
                                             const std::vector<Link>& links, Platform::Duration every, int goneAfter,
                                             std::function<void()> beforeLeaving,
                                             const std::vector<std::string>& arguments);

    // start() for a process already read: logs, claims the records, acts on
    // the arguments (which may end the process through `system`'s exit),
    // settles and begins.
    static std::shared_ptr<ImageWatch> start(Watched watched, std::shared_ptr<const WatchSystem> system,
                                             const std::vector<Job>& jobs, Platform::Duration every,
                                             const std::vector<std::string>& arguments);

    // What start() reads of the running process; none (logged) when it does
    // not run from a signed app bundle with an identifier.
    static std::optional<Watched> running(const std::vector<std::string>& keeps, const std::vector<Link>& links,
                                          int goneAfter, std::function<void()> beforeLeaving);

    ImageWatch(Watched watched, std::shared_ptr<const WatchSystem> system);
    ImageWatch(const ImageWatch&) = delete;
    ImageWatch& operator=(const ImageWatch&) = delete;

    // Ticks every `every` on the utility queue, the first time one interval
    // from now, replacing an earlier timer.
    void begin(Platform::Duration every);
    // One look at the image and what follows from it.
    void tick();
    // Consecutive ticks the image has been missing.
    int gone() const { return gone_; }
    const Watched& watched() const { return watched_; }

    // Whether the image at `path` satisfies `requirement` and the whole
    // bundle, nested code included, is validly signed.
    static bool whole(const std::string& path, const std::string& bundle,
                      const Platform::CodeSigning::Requirement& requirement);

    // Where the app went when its image vanished: a copy named `name` in an
    // Applications folder, or a copy the search index knows that is the very
    // same executable (inode `executable`); never `besides`, nor one in a
    // Trash or translocated.
    std::optional<std::string> movedCopy(const std::string& of, const std::string& name, const std::string& besides,
                                         uint64_t executable) const;

    // A daemon's way to have the person at the console forget the deleted
    // copy `deleted`: runs this copy's executable as them with the forget
    // switch.
    void forgetForPerson(const std::string& deleted) const;
    // Removes what the deleted app at `bundle` left: a tombstone for the next
    // copy, then as a person its state, keeps, preferences and links into
    // it; as root only the keeps. Best effort, each failure logged.
    void forget(const std::string& bundleID, const std::string& bundle, const std::vector<std::string>& keeps,
                const std::vector<Link>& links) const;
    // Points the links that lead into an older copy of this app at `bundle`.
    void repoint(const std::vector<Link>& links, const std::string& bundle, const std::string& bundleID) const;
    // Moves the item to the Trash, logging where it went or why not.
    void trash(const std::string& path) const;
    // Where the app with this identifier keeps its state in the person's
    // Library; nothing as root or for an identifier that is not plain.
    std::vector<std::string> standardState(const std::string& of) const;

private:
    // The switch "--app-installation-forget" and its value; ends the process.
    void forgetSwitch(const std::string& value) const;
    void imageMissing();
    void newImage();
    // Ends the watching after the process was told to leave.
    void stop();

    Watched watched_;
    std::shared_ptr<const WatchSystem> system_;
    std::atomic<int> gone_{0};
    int unreadable_ = 0; // the errno last warned about, 0 when none
    std::atomic<bool> left_{false};
    std::mutex timerLock_;
    std::unique_ptr<Platform::RepeatingTimer> timer_;
};

} // namespace AppInstallation
