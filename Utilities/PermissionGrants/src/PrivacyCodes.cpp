#include "PermissionGrants/PrivacyCodes.hpp"

#include <charconv>
#include <string_view>
#include <vector>

namespace PermissionGrants::PrivacyCodes {

using Answer = PrivacyHub::Answer;
using Source = PrivacyHub::Source;
namespace Status = Platform::Privacy::Status;
using Platform::Privacy::Access;
using Platform::Privacy::Subject;

bool isProbeLaunch(const std::vector<std::string>& arguments) {
    return arguments.size() == 1 && arguments.front() == probeArgument;
}

Source chooseSource(const char* publicAPIVariable, bool hasPreflight) {
    if (publicAPIVariable != nullptr && std::string_view(publicAPIVariable) == "1") return Source::publicAPI;
    return hasPreflight ? Source::preflight : Source::publicAPI;
}

int yesNoCode(bool yes, bool asked) {
    if (yes) return allowed;
    return asked ? denied : notAsked;
}

int statusCode(int status) {
    switch (status) {
    case Status::authorized: return allowed;
    case Status::notDetermined: return notAsked;
    case Status::restricted:
    case Status::denied: return denied;
    default: return unreadable;
    }
}

int publicCode(Privacy privacy, Platform::Privacy::Services& services, bool asked) {
    switch (privacy) {
    case Privacy::accessibility: return yesNoCode(services.accessibilityTrusted(false), asked);
    case Privacy::postEvents: return yesNoCode(services.preflightAccess(Access::postEvent), asked);
    case Privacy::inputMonitoring: return yesNoCode(services.preflightAccess(Access::listenEvent), asked);
    case Privacy::screenRecording: return yesNoCode(services.preflightAccess(Access::screenCapture), asked);
    case Privacy::microphone: return statusCode(services.authorizationStatus(Subject::audio));
    case Privacy::camera: return statusCode(services.authorizationStatus(Subject::video));
    case Privacy::speechRecognition: return statusCode(services.authorizationStatus(Subject::speech));
    case Privacy::motion: return statusCode(services.authorizationStatus(Subject::headphoneMotion));
    case Privacy::systemAudio:
    case Privacy::fullDiskAccess: return unreadable;
    }
    return unreadable;
}

int currentCode(Privacy privacy, Source source, Platform::Privacy::Services& services, bool asked) {
    if (source == Source::preflight) return services.preflight(serviceName(privacy));
    return publicCode(privacy, services, asked);
}

Answer answerOf(int code) {
    switch (code) {
    case allowed: return Answer::allowed;
    case denied: return Answer::denied;
    case unreadable: return Answer::unknown;
    default: return Answer::notAsked;
    }
}

Answer freshAnswer(Privacy privacy, int inProcess, int fresh) {
    if (fresh != allowed) return answerOf(fresh);
    bool appliesAtOnce = privacy == Privacy::accessibility || privacy == Privacy::postEvents;
    return !appliesAtOnce && inProcess != allowed ? Answer::allowedOnReopen : Answer::allowed;
}

std::optional<int> parseCode(std::string_view text) {
    // from_chars takes a leading '-' but not a '+'.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    int code = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return code;
}

namespace {

// The pieces of `text` between runs of `separators`, none empty.
std::vector<std::string_view> pieces(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> found;
    size_t start = text.find_first_not_of(separators);
    while (start != std::string_view::npos) {
        size_t end = text.find_first_of(separators, start);
        found.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = text.find_first_not_of(separators, end);
    }
    return found;
}

} // namespace

std::map<Privacy, int> parseProbeOutput(std::string_view output) {
    std::map<Privacy, int> codes;
    for (std::string_view line : pieces(output, "\n")) {
        auto parts = pieces(line, " \t");
        if (parts.size() != 2) continue;
        auto privacy = privacyOfService(parts[0]);
        auto code = parseCode(parts[1]);
        if (privacy && code) codes[*privacy] = *code;
    }
    return codes;
}

std::string probeOutput(Source source, Platform::Privacy::Services& services) {
    std::string output;
    for (Privacy privacy : allPrivacies) {
        // A probe has asked for nothing, so a public "no" is "not asked".
        output.append(serviceName(privacy)).append(" ");
        output.append(std::to_string(currentCode(privacy, source, services, false))).append("\n");
    }
    return output;
}

} // namespace PermissionGrants::PrivacyCodes
