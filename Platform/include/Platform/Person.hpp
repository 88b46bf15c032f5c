#pragma once

#include "Platform/Dispatch.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// The person in front of the simulated Mac, who answers what the system
// shows: privacy and automation prompts, the notification permission
// prompt, alerts, and settings panes. Answers follow the rules in
// person/rules.json under the simulation root (now, or after a delay in
// simulated time); a prompt no rule answers stays open until someone answers
// it by hand (`lumra-sim answer ID ANSWER`). Every prompt and every answer is
// a JSON line in person/log.jsonl. docs/simulated-host.md has the files.
namespace Platform {

// Kinds of prompt, as rules and the log name them.
namespace PromptKind {
inline constexpr const char* privacy = "privacy";
inline constexpr const char* automation = "automation";
inline constexpr const char* notifications = "notifications";
inline constexpr const char* alert = "alert";
inline constexpr const char* settings = "settings";
} // namespace PromptKind

struct Prompt {
    std::string kind;
    std::string subject;              // what it is about: a service, a bundle identifier, an alert's message
    std::string text;                 // what the person reads
    std::vector<std::string> choices; // the answers it takes, first the default
};

class Person {
public:
    using Completion = std::function<void(std::string answer)>;

    virtual ~Person() = default;

    // Shows the prompt; `completion` runs once with one of its choices, on
    // the person's completion queue, never on the caller's thread. An open
    // prompt nobody answers never completes.
    virtual void ask(Prompt prompt, Completion completion) = 0;

    // The person of the simulated host, answering on the global queue.
    static Person& current();
};

// Who is asking: the application's bundle identifier (if any) and its pid.
struct Asker {
    std::optional<std::string> bundleID;
    pid_t pid = 0;
};

// The simulated person of the machine at `root`, asked by `asker`, answering
// on `completions`. It watches for hand answers with inotify on a thread of
// its own while a prompt is open; destroying it abandons open prompts.
std::unique_ptr<Person> makeSimulatedPerson(std::filesystem::path root, Asker asker, Queue& completions);

// What `lumra-sim prompts` and `lumra-sim answer` work with: the prompts
// still open on the machine at `root` whose askers still run, oldest first.
struct OpenPrompt {
    std::string id;
    Prompt prompt;
    Asker asker;
};
std::vector<OpenPrompt> openPrompts(const std::filesystem::path& root);

// Answers an open prompt by hand. Absent when done, else why not: "no open
// prompt ID", or "prompt ID takes one of: a, b".
std::optional<std::string> answerPrompt(const std::filesystem::path& root, const std::string& id,
                                        const std::string& answer);

} // namespace Platform
