#pragma once

#include "Announcer.hpp"

#include <LumraKit/StateMachine.hpp>

#include <Platform/HTTP.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Lumrad {

// The daily update check: when the engine says one is due, one GET of the
// version feed, off the main thread (the process's HTTP client). Its answer
// is the newest version as the first line of a 200 answer's body ("1.4.2").
// The result goes to the engine's bookkeeping on the main thread, which
// spaces the checks (a day after an answer, an hour after a failure) and
// says when a newer version is to be announced once. Without a feed nothing
// is ever checked.
class UpdateCheck {
public:
    static constexpr std::chrono::seconds timeout{30};

    UpdateCheck(std::optional<std::string> feed, Platform::HTTPClient& client, std::string running);
    UpdateCheck(const UpdateCheck&) = delete;
    UpdateCheck& operator=(const UpdateCheck&) = delete;

    const std::optional<std::string>& feed() const { return feed_; }

    // Sends the request when a check is due and none is under way.
    void startIfDue(LumraKit::StateMachine& engine);

    // Readable once a check has come back: finish() then.
    int fd() const { return shared_->wake[0]; }

    // Hands a finished check to the engine and announces a newer version.
    void finish(LumraKit::StateMachine& engine, Announcer& announcer);

    // The version a feed's answer names, absent (with why) when it names none.
    static std::optional<std::string> versionIn(const Platform::HTTPResponse& response, std::string& why);

private:
    // What the HTTP client's thread hands over; it may outlive this object
    // when a request is still under way as the program ends.
    struct Shared {
        Shared();
        ~Shared();
        int wake[2] = {-1, -1};
        std::mutex mutex;
        std::optional<Platform::HTTPResponse> arrived; // under mutex
    };

    std::optional<std::string> feed_;
    Platform::HTTPClient& client_;
    std::string running_;
    bool underWay_ = false;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// What the person is told about a newer version.
std::string updateMessage(const std::string& latest, const std::string& running);

} // namespace Lumrad
