#include "Platform/AppEvents.hpp"
#include "CompactJSON.hpp"
#include "Platform/Files.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

using nlohmann::json;

std::filesystem::path eventsFolder(const std::filesystem::path& root) { return root / "events"; }
std::filesystem::path postedFile(const std::filesystem::path& root) { return eventsFolder(root) / "posted.jsonl"; }
std::filesystem::path frontFile(const std::filesystem::path& root) { return eventsFolder(root) / "front.json"; }


json describe(const Asker& app) {
    json value = json::object();
    if (app.bundleID) value["app"] = *app.bundleID;
    if (app.pid > 0) value["pid"] = app.pid;
    return value;
}

void appendEvent(const std::filesystem::path& root, json line) {
    Files::createDirectories(eventsFolder(root));
    Files::append(postedFile(root), compactJSON(line) + "\n");
}

// The state the main loop's watch works on. It outlives the AppEvents that
// made it until the loop has let the watch go.
struct Listener {
    Listener(std::filesystem::path root, Asker self) : root(std::move(root)), self(std::move(self)) {}
    ~Listener() {
        if (inotify >= 0) ::close(inotify);
    }

    std::filesystem::path root;
    Asker self;
    int inotify = -1;
    off_t offset = 0;   // loop thread only
    std::string partial; // a line not yet ended, loop thread only

    std::mutex mutex;
    uint64_t nextID = 1;
    std::map<uint64_t, std::pair<std::string, AppEvents::Handler>> handlers;

    bool reaches(const json& line) const {
        auto app = line.find("app");
        auto pid = line.find("pid");
        if (app == line.end() && pid == line.end()) return true; // distributed to all
        if (app != line.end() && app->is_string() && self.bundleID && *app == *self.bundleID) return true;
        return pid != line.end() && pid->is_number_integer() && pid->get<int64_t>() == self.pid;
    }

    void deliver(const std::string& text) {
        json line = json::parse(text, nullptr, false);
        if (!line.is_object() || !line.contains("name") || !line["name"].is_string() || !reaches(line)) return;
        const std::string& name = line["name"].get_ref<const std::string&>();
        std::vector<AppEvents::Handler> called;
        {
            std::lock_guard lock(mutex);
            for (const auto& [id, entry] : handlers)
                if (entry.first == name) called.push_back(entry.second);
        }
        for (const auto& handler : called) handler();
    }

    // Reads whatever was appended since last time; runs on the loop.
    void drain() {
        alignas(inotify_event) char events[4096];
        while (::read(inotify, events, sizeof events) > 0) {
        }
        int fd = ::open(postedFile(root).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat status {};
        if (::fstat(fd, &status) == 0 && status.st_size < offset) {
            offset = 0; // the file was replaced: start over
            partial.clear();
        }
        char buffer[8192];
        for (;;) {
            ssize_t length = ::pread(fd, buffer, sizeof buffer, offset);
            if (length <= 0) break;
            offset += length;
            partial.append(buffer, static_cast<size_t>(length));
        }
        ::close(fd);
        size_t start = 0;
        for (size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1)
            deliver(partial.substr(start, end - start));
        partial.erase(0, start);
    }
};

class ListenerSubscription final : public AppEvents::Subscription {
public:
    ListenerSubscription(std::weak_ptr<Listener> listener, uint64_t id) : listener_(std::move(listener)), id_(id) {}
    ~ListenerSubscription() override {
        if (auto listener = listener_.lock()) {
            std::lock_guard lock(listener->mutex);
            listener->handlers.erase(id_);
        }
    }

private:
    std::weak_ptr<Listener> listener_;
    uint64_t id_;
};

class SimulatedAppEvents final : public AppEvents {
public:
    SimulatedAppEvents(std::filesystem::path root, Asker self, MainLoop& loop)
        : listener_(std::make_shared<Listener>(std::move(root), std::move(self))), loop_(loop) {}

    ~SimulatedAppEvents() override { watch_.reset(); }

    std::unique_ptr<Subscription> subscribe(std::string name, Handler handler) override {
        std::call_once(started_, [this] { start(); });
        std::lock_guard lock(listener_->mutex);
        uint64_t id = listener_->nextID++;
        listener_->handlers.emplace(id, std::make_pair(std::move(name), std::move(handler)));
        return std::make_unique<ListenerSubscription>(listener_, id);
    }

    void post(std::string_view name) override { postAppEvent(listener_->root, name); }

    void activate() override {
        auto front = frontApp(listener_->root);
        if (front && front->pid == listener_->self.pid) return;
        activateApp(listener_->root, Asker{std::nullopt, listener_->self.pid});
    }

private:
    // Watches the events folder from the first subscription on; events
    // posted before it are not delivered.
    void start() {
        auto& listener = *listener_;
        Files::createDirectories(eventsFolder(listener.root));
        listener.inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (listener.inotify < 0 ||
            ::inotify_add_watch(listener.inotify, eventsFolder(listener.root).c_str(),
                                IN_MODIFY | IN_CREATE | IN_MOVED_TO) < 0)
            return;
        struct stat status {};
        if (::stat(postedFile(listener.root).c_str(), &status) == 0) listener.offset = status.st_size;
        watch_ = loop_.watchReadable(listener.inotify, [listener = listener_] { listener->drain(); });
    }

    std::shared_ptr<Listener> listener_;
    MainLoop& loop_;
    std::once_flag started_;
    std::unique_ptr<DescriptorWatch> watch_;
};

std::atomic<AlertPresenter*> installedPresenter{nullptr};

} // namespace

std::unique_ptr<AppEvents> makeSimulatedAppEvents(std::filesystem::path root, Asker self, MainLoop& loop) {
    return std::make_unique<SimulatedAppEvents>(std::move(root), std::move(self), loop);
}

AppEvents& AppEvents::current() {
    static auto events = makeSimulatedAppEvents(SimulatedHost::root(), {mainBundleIdentifier(), ::getpid()}, mainLoop());
    return *events;
}

void postAppEvent(const std::filesystem::path& root, std::string_view name) {
    appendEvent(root, {{"name", name}});
}

void activateApp(const std::filesystem::path& root, const Asker& target) {
    json front = describe(target);
    Files::createDirectories(eventsFolder(root));
    Files::writeAtomically(frontFile(root), compactJSON(front) + "\n");
    front["name"] = didBecomeActive;
    appendEvent(root, front);
}

std::optional<Asker> frontApp(const std::filesystem::path& root) {
    auto text = Files::read(frontFile(root));
    if (!text) return std::nullopt;
    json value = json::parse(*text, nullptr, false);
    if (!value.is_object()) return std::nullopt;
    Asker front;
    if (auto app = value.find("app"); app != value.end() && app->is_string()) front.bundleID = app->get<std::string>();
    if (auto pid = value.find("pid"); pid != value.end() && pid->is_number_integer()) front.pid = pid->get<pid_t>();
    return front;
}

void presentAlert(Alert alert, std::function<void(size_t)> completion, Person& person) {
    if (alert.buttons.empty()) alert.buttons.push_back("OK");
    if (AlertPresenter* presenter = installedPresenter.load(std::memory_order_acquire))
        return presenter->present(alert, std::move(completion));
    std::string text = alert.message;
    if (!alert.informativeText.empty()) text += "\n" + alert.informativeText;
    person.ask({PromptKind::alert, alert.message, text, alert.buttons},
               [buttons = alert.buttons, completion = std::move(completion)](const std::string& answer) {
                   auto found = std::find(buttons.begin(), buttons.end(), answer);
                   completion(static_cast<size_t>(found - buttons.begin()));
               });
}

void setAlertPresenter(AlertPresenter* presenter) { installedPresenter.store(presenter, std::memory_order_release); }

} // namespace Platform
