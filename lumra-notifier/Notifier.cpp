#include "Notifier.hpp"

#include <LumraKit/Log.hpp>
#include <LumraKit/UUID.hpp>
#include <Platform/Files.hpp>

namespace Notifier {

using Notifications = PermissionGrants::PermissionGrant::Notifications;

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

// Decodes the UTF-8 sequence starting at `at`. A byte that starts no valid
// sequence decodes, one byte long, as U+FFFD, so it is never taken for
// white space (a stray 0xA0 is not a no-break space).
char32_t decodeAt(std::string_view text, size_t at, size_t& length) {
    auto byte = static_cast<unsigned char>(text[at]);
    size_t count = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
    length = 1;
    if (count == 1) return byte;
    if (count == 0 || at + count > text.size()) return replacementCharacter;
    char32_t code = byte & (0x7F >> count);
    for (size_t i = 1; i < count; ++i) {
        auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return replacementCharacter;
        code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[count] || code > 0x10FFFF) return replacementCharacter; // overlong or out of range
    length = count;
    return code;
}

// Unicode's White_Space characters: spaces, tabs and every line break.
bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The start of the UTF-8 sequence that ends just before `end`.
size_t sequenceStartBefore(std::string_view text, size_t end) {
    size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    size_t length = 0;
    decodeAt(text, start, length);
    return start + length == end ? start : end - 1;
}

} // namespace

std::string trimmed(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t length = 0;
        if (!isWhiteSpace(decodeAt(text, begin, length))) break;
        begin += length;
    }
    size_t end = text.size();
    while (end > begin) {
        size_t start = sequenceStartBefore(text, end);
        size_t length = 0;
        if (!isWhiteSpace(decodeAt(text, start, length)) || start < begin) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::optional<Invocation> parse(const std::vector<std::string>& arguments) {
    Invocation invocation;
    invocation.prime = !arguments.empty() && arguments.front() == "--prime";
    invocation.probe = !arguments.empty() && arguments.front() == "--probe";

    std::string joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += arguments[i];
    }
    if (invocation.prime) {
        invocation.message = std::string(sampleMessage);
    } else if (invocation.probe) {
        invocation.message = std::move(joined); // only named by the watchdog line
    } else {
        invocation.message = trimmed(joined);
        if (invocation.message.empty()) return std::nullopt;
    }
    return invocation;
}

Run::Run(Invocation invocation, Host host) : invocation_(std::move(invocation)), host_(std::move(host)) {}

template <typename Continuation>
auto Run::onMain(Continuation continuation) {
    return [this, continuation = std::move(continuation)](auto... values) {
        host_.main.async([this, continuation, values...] {
            if (!finished_) continuation(values...);
        });
    };
}

void Run::start() {
    host_.main.async([this] {
        if (finished_) return;
        if (invocation_.probe)
            record([this](std::optional<Reach>) { finish(ExitStatus::handedOver); });
        else
            deliver(invocation_.message, invocation_.prime);
    });
    host_.main.asyncAfter(watchdogDelay, [this] {
        if (finished_) return;
        log("no verdict in 120s (prompt unanswered?), giving up on: " + invocation_.message);
        finish(ExitStatus::noVerdict);
    });
}

void Run::record(std::function<void(std::optional<Reach>)> then) {
    Notifications::reach(onMain([this, then = std::move(then)](std::optional<Reach> reach) {
                             if (!reach) {
                                 log("an authorization status this build does not know, not recorded");
                                 then(std::nullopt);
                                 return;
                             }
                             if (host_.store.load() != reach)
                                 log("notification reach: " + std::string(Notifications::rawValue(*reach)));
                             host_.store.save(*reach);
                             then(reach);
                         }),
                         host_.center);
}

void Run::deliver(const std::string& message, bool prime) {
    record([this, message, prime](std::optional<Reach> reach) { decide(reach, message, prime); });
}

void Run::decide(std::optional<Reach> reach, const std::string& message, bool prime) {
    if (!reach) {
        log("posting without a known reach");
        post(message);
        return;
    }
    switch (*reach) {
    case Reach::silenced:
    case Reach::allowed:
        if (prime)
            finish(ExitStatus::handedOver);
        else
            post(message);
        return;
    case Reach::denied:
        if (!prime) log("notifications denied for lumra; message dropped: " + message);
        finish(ExitStatus::denied);
        return;
    case Reach::notAsked: ask(message); return;
    }
}

void Run::ask(const std::string& message) {
    // Asking needs the notifier's own bundle identifier; a bare executable
    // cannot be granted anything, so it ends as refused rather than crashing.
    if (!host_.bundleID) {
        log("no bundle identifier to ask for notifications with; message dropped: " + message);
        finish(ExitStatus::denied);
        return;
    }
    auto afterAsking = onMain([this, message] {
        record([this, message](std::optional<Reach> reach) {
            if (reach == Reach::silenced || reach == Reach::allowed) {
                post(message);
                return;
            }
            log("notifications DENIED at the prompt");
            finish(ExitStatus::denied);
        });
    });
    Notifications::ask(Platform::AuthorizationOption::alert | Platform::AuthorizationOption::sound, *host_.bundleID,
                       afterAsking, host_.center, host_.workspace);
}

void Run::post(const std::string& message) {
    Platform::NotificationRequest request{LumraKit::UUID::random().text(), "lumra", message, "default"};
    host_.center.add(std::move(request), onMain([this](std::optional<std::string> error) {
                         if (error) {
                             log("add failed: " + *error);
                             finish(ExitStatus::addFailed);
                             return;
                         }
                         finish(ExitStatus::handedOver);
                     }));
}

void Run::log(std::string_view message) {
    Platform::Files::createDirectories(host_.logDir);
    std::string text = "notifier: ";
    text += message;
    Platform::Files::append(host_.serviceLog, LumraKit::logLine(host_.clock.now(), text));
}

void Run::finish(int status) {
    if (finished_) return;
    finished_ = true;
    host_.exit(status);
}

} // namespace Notifier
