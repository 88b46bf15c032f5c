#include "UpdateCheck.hpp"

#include <LumraKit/Log.hpp>

#include <Platform/UTF8.hpp>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace Lumrad {

namespace {

constexpr size_t longestVersion = 64;

bool versionCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
           c == '+';
}

} // namespace

UpdateCheck::Shared::Shared() {
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) wake[0] = wake[1] = -1;
}

UpdateCheck::Shared::~Shared() {
    for (int fd : wake)
        if (fd >= 0) ::close(fd);
}

UpdateCheck::UpdateCheck(std::optional<std::string> feed, Platform::HTTPClient& client, std::string running)
    : feed_(std::move(feed)), client_(client), running_(std::move(running)) {}

std::optional<std::string> UpdateCheck::versionIn(const Platform::HTTPResponse& response, std::string& why) {
    if (!response.status) {
        why = response.error.value_or("no answer");
        return std::nullopt;
    }
    if (*response.status != 200) {
        why = "HTTP status " + std::to_string(*response.status);
        return std::nullopt;
    }
    std::string_view body = response.body;
    std::string version = Platform::UTF8::trimmingWhitespace(body.substr(0, body.find('\n')));
    bool fits = !version.empty() && version.size() <= longestVersion && version[0] >= '0' && version[0] <= '9' &&
                std::all_of(version.begin(), version.end(), versionCharacter);
    if (!fits) {
        why = "the answer names no version";
        return std::nullopt;
    }
    return version;
}

void UpdateCheck::startIfDue(LumraKit::StateMachine& engine) {
    if (!feed_ || underWay_ || shared_->wake[0] < 0 || !engine.updateCheckDue()) return;
    underWay_ = true;
    Platform::HTTPRequest request;
    request.url = *feed_;
    request.headers = {{"User-Agent", "lumrad/" + running_}};
    request.timeout = timeout;
    request.get = true;
    client_.post(std::move(request), [shared = shared_](Platform::HTTPResponse response) {
        {
            std::lock_guard lock(shared->mutex);
            shared->arrived = std::move(response);
        }
        char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(shared->wake[1], &byte, 1);
    });
}

void UpdateCheck::finish(LumraKit::StateMachine& engine, Announcer& announcer) {
    char drained[16];
    while (::read(shared_->wake[0], drained, sizeof drained) > 0) {
    }
    std::optional<Platform::HTTPResponse> response;
    {
        std::lock_guard lock(shared_->mutex);
        response = std::exchange(shared_->arrived, std::nullopt);
    }
    if (!response) return;
    underWay_ = false;
    std::string why;
    auto latest = versionIn(*response, why);
    if (!latest) LumraKit::log("update check of " + *feed_ + " failed: " + why);
    if (auto announce = engine.recordUpdateCheck(latest, running_))
        announcer.announce(updateMessage(*announce, running_), "update:" + *announce, engine.config().notifyCommand);
}

std::string updateMessage(const std::string& latest, const std::string& running) {
    return "Lumra " + latest + " is available; this Mac runs " + running + ".";
}

} // namespace Lumrad
