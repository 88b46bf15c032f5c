#include "Platform/Person.hpp"
#include "CompactJSON.hpp"
#include "Platform/Clock.hpp"
#include "Platform/Files.hpp"
#include "Platform/ISODate.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/ProcessTable.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace Platform {

namespace {

using nlohmann::json;

std::filesystem::path personFolder(const std::filesystem::path& root) { return root / "person"; }
std::filesystem::path openFolder(const std::filesystem::path& root) { return personFolder(root) / "open"; }
std::filesystem::path answersFolder(const std::filesystem::path& root) { return personFolder(root) / "answers"; }


json readJSON(const std::filesystem::path& file) {
    auto text = Files::read(file);
    return text ? json::parse(*text, nullptr, false) : json();
}

std::string utcNow() {
    return ISODate::format(hostClock().now());
}

json appOf(const Asker& asker) { return asker.bundleID ? json(*asker.bundleID) : json(); }

void record(const std::filesystem::path& root, json line) {
    line["at"] = utcNow();
    Files::append(personFolder(root) / "log.jsonl", compactJSON(line) + "\n");
}

void recordAnswer(const std::filesystem::path& root, const std::string& id, const std::string& answer,
                  const char* by) {
    record(root, {{"event", "answer"}, {"id", id}, {"answer", answer}, {"by", by}});
}

bool takes(const Prompt& prompt, const std::string& answer) {
    return std::find(prompt.choices.begin(), prompt.choices.end(), answer) != prompt.choices.end();
}

std::string nextID(const std::filesystem::path& root) {
    Files::Lock lock(personFolder(root) / "lock");
    auto file = personFolder(root) / "next-id";
    json stored = readJSON(file);
    uint64_t next = stored.is_number_unsigned() ? stored.get<uint64_t>() : 1;
    Files::writeAtomically(file, std::to_string(next + 1) + "\n");
    return std::to_string(next);
}

struct RuleAnswer {
    std::string answer;
    double after = 0; // simulated seconds
};

bool matches(const json& rule, const char* key, const std::string& value) {
    auto found = rule.find(key);
    if (found == rule.end()) return true;
    return found->is_string() && (found->get<std::string>() == "any" || found->get<std::string>() == value);
}

// The first rule that fits the prompt and gives one of its choices. Rules
// that are not objects, or have no usable answer or delay, fit nothing.
std::optional<RuleAnswer> ruleFor(const std::filesystem::path& root, const Prompt& prompt) {
    json rules = readJSON(personFolder(root) / "rules.json");
    if (!rules.is_array()) return std::nullopt;
    for (const json& rule : rules) {
        if (!rule.is_object() || !matches(rule, "kind", prompt.kind) || !matches(rule, "subject", prompt.subject))
            continue;
        auto answer = rule.find("answer");
        if (answer == rule.end() || !answer->is_string() || !takes(prompt, answer->get<std::string>())) continue;
        double after = 0;
        if (auto delay = rule.find("after"); delay != rule.end()) {
            if (!delay->is_number() || !std::isfinite(delay->get<double>()) || delay->get<double>() < 0) continue;
            after = std::min(delay->get<double>(), 365.0 * 24 * 3600);
        }
        return RuleAnswer{answer->get<std::string>(), after};
    }
    return std::nullopt;
}

json describe(const std::string& id, const Prompt& prompt, const Asker& asker) {
    return {{"id", id},     {"kind", prompt.kind}, {"subject", prompt.subject}, {"text", prompt.text},
            {"choices", prompt.choices}, {"app", appOf(asker)}, {"pid", asker.pid}};
}

std::optional<OpenPrompt> readOpen(const std::filesystem::path& file) {
    json value = readJSON(file);
    if (!value.is_object()) return std::nullopt;
    try {
        OpenPrompt open;
        open.id = value.at("id").get<std::string>();
        open.prompt = {value.at("kind").get<std::string>(), value.at("subject").get<std::string>(),
                       value.at("text").get<std::string>(), value.at("choices").get<std::vector<std::string>>()};
        if (value.at("app").is_string()) open.asker.bundleID = value.at("app").get<std::string>();
        open.asker.pid = value.at("pid").get<pid_t>();
        // A prompt whose asker is gone (or whose pid now names another
        // process) is no longer open.
        auto started = ProcessTable::startTime(open.asker.pid);
        if (!started || !value.contains("started") || value["started"] != json(*started)) return std::nullopt;
        return open;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

uint64_t numericID(const std::string& id) {
    uint64_t number = 0;
    for (char c : id) number = c >= '0' && c <= '9' ? number * 10 + static_cast<uint64_t>(c - '0') : number;
    return number;
}

class SimulatedPerson final : public Person {
public:
    SimulatedPerson(std::filesystem::path root, Asker asker, Queue& completions)
        : root_(std::move(root)), asker_(std::move(asker)), completions_(completions) {}

    ~SimulatedPerson() override {
        std::map<std::string, Pending> abandoned;
        {
            std::lock_guard lock(mutex_);
            abandoned.swap(pending_);
        }
        if (waiter_.joinable()) {
            uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
            waiter_.join();
        }
        for (const auto& [id, pending] : abandoned) std::filesystem::remove(openFolder(root_) / (id + ".json"));
        if (inotify_ >= 0) ::close(inotify_);
        if (stop_ >= 0) ::close(stop_);
    }

    void ask(Prompt prompt, Completion completion) override {
        std::string id = nextID(root_);
        record(root_, [&] {
            json line = describe(id, prompt, asker_);
            line["event"] = "prompt";
            return line;
        }());
        if (auto rule = ruleFor(root_, prompt)) {
            Task answer = [root = root_, id, answer = rule->answer, completion = std::move(completion)] {
                recordAnswer(root, id, answer, "rule");
                completion(answer);
            };
            if (rule->after > 0)
                completions_.asyncAfter(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(rule->after)),
                                        std::move(answer));
            else
                completions_.async(std::move(answer));
            return;
        }
        if (!startWaiting()) return; // without inotify nobody could answer it
        json open = describe(id, prompt, asker_);
        if (auto started = ProcessTable::startTime(asker_.pid)) open["started"] = *started;
        {
            std::lock_guard lock(mutex_);
            pending_.emplace(id, Pending{std::move(prompt), std::move(completion)});
        }
        Files::writeAtomically(openFolder(root_) / (id + ".json"), compactJSON(open) + "\n");
        // An answer may have landed before the watch saw the folder.
        collect(id);
    }

private:
    struct Pending {
        Prompt prompt;
        Completion completion;
    };

    // Starts the inotify watch on the answers folder and its thread, once.
    bool startWaiting() {
        std::lock_guard lock(startMutex_);
        if (waiter_.joinable()) return true;
        Files::createDirectories(answersFolder(root_));
        Files::createDirectories(openFolder(root_));
        inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        if (inotify_ < 0 || stop_ < 0 ||
            ::inotify_add_watch(inotify_, answersFolder(root_).c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
            return false;
        waiter_ = std::thread([this] { wait(); });
        return true;
    }

    // Sleeps in poll() until an answer file arrives or the person is
    // destroyed; no timeout, so nothing runs while nobody answers.
    void wait() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd watched[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (watched[1].revents != 0) return;
            ssize_t length = ::read(inotify_, buffer, sizeof buffer);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                std::string name = event->len > 0 ? event->name : "";
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (name.size() > 5 && name.ends_with(".json")) collect(name.substr(0, name.size() - 5));
            }
        }
    }

    // Delivers the hand answer of prompt `id` if it is one of ours and has
    // one; an answer it does not take is thrown away and the prompt stays.
    void collect(const std::string& id) {
        auto file = answersFolder(root_) / (id + ".json");
        json value = readJSON(file);
        if (value.is_null()) return;
        std::string answer;
        Completion completion;
        {
            std::lock_guard lock(mutex_);
            auto found = pending_.find(id);
            if (found == pending_.end()) return;
            auto given = value.is_object() ? value.find("answer") : value.end();
            bool usable = given != value.end() && given->is_string() && takes(found->second.prompt, *given);
            std::filesystem::remove(file);
            if (!usable) return;
            answer = given->get<std::string>();
            completion = std::move(found->second.completion);
            pending_.erase(found);
        }
        std::filesystem::remove(openFolder(root_) / (id + ".json"));
        recordAnswer(root_, id, answer, "hand");
        completions_.async([answer, completion = std::move(completion)] { completion(answer); });
    }

    std::filesystem::path root_;
    Asker asker_;
    Queue& completions_;
    std::mutex mutex_;
    std::map<std::string, Pending> pending_;
    std::mutex startMutex_;
    int inotify_ = -1;
    int stop_ = -1;
    std::thread waiter_;
};

} // namespace

std::unique_ptr<Person> makeSimulatedPerson(std::filesystem::path root, Asker asker, Queue& completions) {
    return std::make_unique<SimulatedPerson>(std::move(root), std::move(asker), completions);
}

Person& Person::current() {
    static auto person = makeSimulatedPerson(SimulatedHost::root(), {mainBundleIdentifier(), ::getpid()}, globalQueue());
    return *person;
}

std::vector<OpenPrompt> openPrompts(const std::filesystem::path& root) {
    std::vector<OpenPrompt> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(openFolder(root), error))
        if (entry.path().extension() == ".json")
            if (auto open = readOpen(entry.path())) found.push_back(std::move(*open));
    std::sort(found.begin(), found.end(),
              [](const OpenPrompt& a, const OpenPrompt& b) { return numericID(a.id) < numericID(b.id); });
    return found;
}

std::optional<std::string> answerPrompt(const std::filesystem::path& root, const std::string& id,
                                        const std::string& answer) {
    auto open = openPrompts(root);
    auto found = std::find_if(open.begin(), open.end(), [&](const OpenPrompt& each) { return each.id == id; });
    if (found == open.end()) return "no open prompt " + id;
    if (!takes(found->prompt, answer)) {
        std::string choices;
        for (const auto& choice : found->prompt.choices) choices += (choices.empty() ? "" : ", ") + choice;
        return "prompt " + id + " takes one of: " + choices;
    }
    if (auto error = Files::writeAtomically(answersFolder(root) / (id + ".json"), compactJSON({{"answer", answer}}) + "\n"))
        return "the answer cannot be written: " + error.message();
    return std::nullopt;
}

} // namespace Platform
