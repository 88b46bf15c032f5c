#pragma once

#include "Platform/Dispatch.hpp"
#include "Platform/Person.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Application events of the simulated host: an application becoming active
// (coming to the front) and named distributed notifications. They are posted
// as lines of events/posted.jsonl under the simulation root and delivered to
// every subscribed process on its main loop, which learns of new lines from
// inotify. docs/simulated-host.md has the files.
namespace Platform {

// The notification an application receives when it became active.
inline constexpr std::string_view didBecomeActive = "NSApplicationDidBecomeActiveNotification";

class AppEvents {
public:
    using Handler = std::function<void()>;

    // Ends its subscription when destroyed.
    class Subscription {
    public:
        virtual ~Subscription() = default;
    };

    virtual ~AppEvents() = default;

    // Calls `handler` on the main loop for every later event named `name`
    // that reaches this process: a distributed notification of that name, or
    // this application's own activation for didBecomeActive. Any thread.
    [[nodiscard]] virtual std::unique_ptr<Subscription> subscribe(std::string name, Handler handler) = 0;

    // Posts a distributed notification to every subscribed process.
    virtual void post(std::string_view name) = 0;

    // Brings this application to the front; when it was not there already,
    // it receives didBecomeActive.
    virtual void activate() = 0;

    // The events of the running process, on the simulated host's main loop.
    static AppEvents& current();
};

// The events of the machine at `root`, for the process `self`, delivered on
// `loop`.
std::unique_ptr<AppEvents> makeSimulatedAppEvents(std::filesystem::path root, Asker self, MainLoop& loop);

// What `lumra-sim` does from outside: post a distributed notification, or
// bring an application (by bundle identifier, or by pid) to the front; the
// application receives didBecomeActive when it was not in front.
void postAppEvent(const std::filesystem::path& root, std::string_view name);
void activateApp(const std::filesystem::path& root, const Asker& target);

// The application in front, as the last activation left it.
std::optional<Asker> frontApp(const std::filesystem::path& root);

// A modal alert: a message, its informative text and its buttons (the
// first is the default). `completion` gets the index of the button pressed.
struct Alert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual void present(const Alert& alert, std::function<void(size_t button)> completion) = 0;
};

// Shows the alert through the installed presenter, or, when no front end
// installed one, to the simulated person (a prompt of kind "alert" whose
// subject is the message and whose choices are the buttons). An alert
// without buttons gets "OK".
void presentAlert(Alert alert, std::function<void(size_t button)> completion, Person& person = Person::current());

// Installs a presenter (a terminal view, say) for this process; nullptr
// gives alerts back to the person. The presenter must outlive its use.
void setAlertPresenter(AlertPresenter* presenter);

} // namespace Platform
