#pragma once

#include "PermissionGrants/Observe.hpp"
#include "PermissionGrants/Privacy.hpp"
#include "PermissionGrants/Standing.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace PermissionGrants {

// Reads, asks for and watches the running application's privacy
// permissions. A running process may keep seeing the permission it started
// with, so the hub confirms its readings with a fresh process of its own
// executable (a probe), and re-reads on a timer for two minutes after each
// reason to expect a change. Observable: trackers hear of every changed
// answer.
class PrivacyHub {
public:
    enum class Answer { allowed, denied, notAsked, allowedOnReopen, unknown };
    enum class Source { preflight, publicAPI };

    // The one hub, created on first use.
    static PrivacyHub& shared();

    // The standing of a permission, from its answer. Any thread.
    Standing standing(Privacy privacy);
    // The cached answer, read first when there is none. Any thread.
    Answer answer(Privacy privacy);
    // On the main thread: asks the person or opens settings; `completion`
    // runs on the main thread once done.
    void ask(Privacy privacy, std::function<void()> completion);
    // Opens (or extends) the two-minute re-reading window and refreshes now.
    void watchSettings(std::string_view why);
    // Sets up watching once.
    void start();

    // Opens System Settings at a privacy anchor ("Privacy_Camera").
    static void openSettings(std::string_view pane);

    // First thing at every launch of a program that uses the hub, with the
    // arguments after the program's name: a probe launch prints the
    // readings and ends the process; any other enables fresh probes.
    static void answerProbeIfAsked(const std::vector<std::string>& arguments);
};

// "allowed", "denied", "not asked", "allowed on reopen", "unknown".
std::string_view rawValue(PrivacyHub::Answer answer);

} // namespace PermissionGrants
