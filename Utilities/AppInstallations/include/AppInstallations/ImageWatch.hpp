#pragma once

#include "AppInstallations/Job.hpp"

#include <Platform/Clock.hpp>

#include <functional>
#include <memory>
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

class ImageWatch {
public:
    // Starts the watch of the running process: claims the records, acts on
    // `arguments` (the app's launch switches; a launchd job ignores them),
    // settles the jobs and ticks every `every` (simulated time). The process
    // must run from a signed app bundle with an identifier; otherwise the
    // answer is none, with a log line. `beforeLeaving` runs on the watch's
    // queue before the process leaves.
    static std::shared_ptr<ImageWatch> start(const std::vector<Job>& jobs, const std::vector<std::string>& keeps,
                                             const std::vector<Link>& links, Platform::Duration every,
                                             int goneAfter, std::function<void()> beforeLeaving,
                                             const std::vector<std::string>& arguments);

    virtual ~ImageWatch() = default;
    // One look at the image; the timer calls it.
    virtual void tick() = 0;
};

} // namespace AppInstallation
