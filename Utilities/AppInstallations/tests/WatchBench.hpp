#pragma once

#include <AppInstallations/ImageWatch.hpp>
#include <Platform/SimulatedHost.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <sys/stat.h>

// A watch on a temporary home and this test program's simulated machine,
// with the other engineers' operations (settling, hand-over, leaving, the
// tombstone, the search index) and the process's fate (exit, reopen) faked
// and recorded in the order they happen.
namespace AppInstallationTests {

namespace fs = std::filesystem;

inline std::string opt(const std::optional<std::string>& value) { return value.value_or("-"); }

// Writes a bundle at the macOS path `app`: Info.plist with `identifier` and
// the executable "test", a copy of `program`. Answers the executable's host
// path.
inline fs::path makeBundle(const std::string& app, const std::string& identifier,
                           const fs::path& program = "/bin/true") {
    fs::path host = Platform::SimulatedHost::hostPath(app);
    fs::create_directories(host / "Contents/MacOS");
    std::ofstream(host / "Contents/Info.plist")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>" << identifier
        << "</string><key>CFBundleExecutable</key><string>test</string></dict></plist>";
    fs::path executable = host / "Contents/MacOS/test";
    fs::copy_file(program, executable, fs::copy_options::overwrite_existing);
    return executable;
}

// A macOS path's inode on this host; 0 when nothing is there.
inline uint64_t inodeOf(const std::string& path) {
    struct stat status {};
    if (::stat(Platform::SimulatedHost::hostPath(path).c_str(), &status) != 0) return 0;
    return static_cast<uint64_t>(status.st_ino);
}

struct WatchBench {
    TestSupport::TempDir homeFolder;
    TestSupport::ScopedEnvironment environment{{"HOME", homeFolder.path().c_str()}};
    std::string home = homeFolder.path().string();

    // Looks at the image path in turn (the last one stays); other paths are
    // looked at for real.
    std::deque<AppInstallation::FileLook> looks{{7, 0}};
    bool whole = true;
    uint32_t uid = 501;
    std::vector<std::string> indexed;
    std::optional<std::string> ownExecutable;
    int32_t runStatus = 0;

    std::mutex lock;
    std::vector<std::string> calls;
    std::function<void()> exitWork;
    int wholeChecks = 0;
    int imageLooks = 0;

    AppInstallation::Watched watched{"/Applications/Test.app/Contents/MacOS/test",
                                     7,
                                     {"app.test", "AB12CD34EF", std::nullopt},
                                     std::nullopt,
                                     std::nullopt,
                                     "app.test",
                                     "/Applications/Test.app",
                                     {},
                                     {},
                                     1,
                                     [this] { record("beforeLeaving"); }};

    void record(const std::string& call) {
        std::lock_guard guard(lock);
        calls.push_back(call);
    }
    std::vector<std::string> recorded() {
        std::lock_guard guard(lock);
        return calls;
    }

    std::shared_ptr<AppInstallation::WatchSystem> system() {
        using namespace AppInstallation;
        auto made = std::make_shared<WatchSystem>(*WatchSystem::live());
        made->look = [this, real = made->look](const std::string& path) {
            if (path != watched.path) return real(path);
            std::lock_guard guard(lock);
            ++imageLooks;
            FileLook now = looks.front();
            if (looks.size() > 1) looks.pop_front();
            return now;
        };
        made->whole = [this](const std::string&, const std::string&, const Platform::CodeSigning::Requirement&) {
            std::lock_guard guard(lock);
            ++wholeChecks;
            return whole;
        };
        made->indexedCopies = [this](const std::string&) { return indexed; };
        made->claimRecords = [this] { record("claimRecords"); };
        made->settle = [this](const std::string& bundle, const std::vector<Job>&,
                              const std::vector<std::string>& arguments) {
            std::string call = "settle " + bundle;
            for (const auto& argument : arguments) call += " " + argument;
            record(call);
        };
        made->writeTombstone = [this](const std::string& id) { record("tombstone " + id); };
        made->handOver = [this](const std::string& target, const std::string& key, const std::string& to) {
            record("handOver " + target + " " + key + " " + to);
        };
        made->leave = [this](const std::optional<std::string>& job, const std::optional<std::string>& reopening,
                             const std::optional<std::string>& handoff) {
            record("leave " + opt(job) + " " + opt(reopening) + " " + opt(handoff));
        };
        made->reopen = [this](const std::string& why) { record("reopen " + why); };
        made->atExit = [this](std::function<void()> work) {
            record("atExit");
            std::lock_guard guard(lock);
            exitWork = std::move(work);
        };
        made->exit = [this](int32_t status) { record("exit " + std::to_string(status)); };
        made->run = [this](const std::string& tool, const std::vector<std::string>& args) {
            std::string call = "run " + tool;
            for (const auto& arg : args) call += " " + arg;
            record(call);
            return ToolResult{runStatus, ""};
        };
        made->uid = [this] { return uid; };
        made->ownExecutable = [this] { return ownExecutable; };
        return made;
    }

    std::shared_ptr<AppInstallation::ImageWatch> watch() {
        return std::make_shared<AppInstallation::ImageWatch>(watched, system());
    }
};

} // namespace AppInstallationTests
