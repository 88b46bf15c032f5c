#include "Platform/Privacy.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/PrivacyDatabase.hpp"
#include "Platform/SimulatedHost.hpp"

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <unistd.h>

namespace Platform::Privacy {

namespace {

namespace Database = PrivacyDatabase;
using Database::Value;

constexpr std::string_view camera = "kTCCServiceCamera";
constexpr std::string_view microphone = "kTCCServiceMicrophone";
constexpr std::string_view speech = "kTCCServiceSpeechRecognition";

bool isPrivacyService(std::string_view service) {
    return std::find(Database::privacyServices.begin(), Database::privacyServices.end(), service) !=
           Database::privacyServices.end();
}

// Read live on the platform too: the system re-checks them at every use.
bool isLive(std::string_view service) { return service == Database::accessibility || service == Database::postEvent; }

std::string_view serviceOf(Access access) {
    switch (access) {
    case Access::postEvent: return Database::postEvent;
    case Access::listenEvent: return "kTCCServiceListenEvent";
    case Access::screenCapture: return "kTCCServiceScreenCapture";
    }
    return {};
}

std::string_view serviceOf(Subject subject) {
    switch (subject) {
    case Subject::audio: return microphone;
    case Subject::video: return camera;
    case Subject::speech: return speech;
    case Subject::headphoneMotion: return "kTCCServiceMotion";
    }
    return {};
}

int statusOf(std::optional<Value> value) {
    if (!value) return Status::notDetermined;
    switch (*value) {
    case Value::allowed: return Status::authorized;
    case Value::denied: return Status::denied;
    case Value::restricted: return Status::restricted;
    }
    return Status::notDetermined;
}

// What the person reads in a privacy prompt.
std::string promptText(const std::string& client, std::string_view service) {
    static const std::map<std::string_view, std::string_view> uses{
        {"kTCCServiceAccessibility", "control this computer using accessibility features"},
        {"kTCCServicePostEvent", "control this computer by posting events"},
        {"kTCCServiceListenEvent", "receive keystrokes from any application"},
        {"kTCCServiceAudioCapture", "record this computer's audio"},
        {"kTCCServiceScreenCapture", "record this computer's screen"},
        {"kTCCServiceMicrophone", "access the microphone"},
        {"kTCCServiceCamera", "access the camera"},
        {"kTCCServiceSpeechRecognition", "use speech recognition"},
        {"kTCCServiceMotion", "access your motion and fitness activity"},
        {"kTCCServiceSystemPolicyAllFiles", "access all of your files"},
    };
    auto found = uses.find(service);
    return "\u201c" + client + "\u201d would like to " + std::string(found != uses.end() ? found->second : service) + ".";
}

// What a process remembers of the database: the snapshot standing in for
// its start, and the answers to its own prompts. Prompt completions hold it,
// so they may land after the services are gone.
struct Memory {
    std::filesystem::path root;
    std::string client;
    std::mutex mutex;
    std::optional<std::vector<Database::Entry>> snapshot;
    std::map<std::string, Value, std::less<>> ownAnswers;

    std::optional<Value> read(std::string_view service) {
        std::unique_lock lock(mutex);
        if (!snapshot) snapshot = Database::entries(root);
        if (isLive(service)) {
            lock.unlock();
            return Database::lookup(Database::entries(root), client, service);
        }
        if (auto own = ownAnswers.find(service); own != ownAnswers.end()) return own->second;
        return Database::lookup(*snapshot, client, service);
    }

    void answered(std::string_view service, Value value) {
        Database::store(root, client, service, {}, value, Database::byPrompt);
        std::lock_guard lock(mutex);
        ownAnswers[std::string(service)] = value;
    }
};

class SimulatedServices final : public Services {
public:
    SimulatedServices(std::filesystem::path root, std::string client, Person& person, Queue& completions,
                      std::optional<CodeSigning::SigningInformation> signature)
        : memory_(std::make_shared<Memory>()), person_(person), completions_(completions),
          signature_(std::move(signature)) {
        memory_->root = std::move(root);
        memory_->client = std::move(client);
    }

    bool hasPreflight() override { return Database::entryPoints(memory_->root).preflight; }
    bool hasRequest() override { return Database::entryPoints(memory_->root).request; }
    bool hasDisclaim() override { return Database::entryPoints(memory_->root).disclaim; }

    int preflight(std::string_view service) override {
        if (!isPrivacyService(service)) return 1;
        auto value = current(service);
        if (!value) return 2;
        return *value == Value::allowed ? 0 : 1;
    }

    void request(std::string_view service, std::function<void(bool)> completion) override {
        if (!isPrivacyService(service)) return deliver([completion = std::move(completion)] { completion(false); });
        decide(service, [completion = std::move(completion)](Value value) { completion(value == Value::allowed); });
    }

    int disclaim(posix_spawnattr_t&, int) override {
        auto points = Database::entryPoints(memory_->root);
        if (!points.disclaim) return ENOSYS;
        return points.disclaimResult;
    }

    // The answer is the access before any prompt: these requests never wait.
    bool accessibilityTrusted(bool prompt) override {
        bool trusted = current(Database::accessibility) == Value::allowed;
        if (prompt) decide(Database::accessibility, nullptr);
        return trusted;
    }

    bool preflightAccess(Access access) override { return current(serviceOf(access)) == Value::allowed; }

    bool requestAccess(Access access) override {
        bool allowed = current(serviceOf(access)) == Value::allowed;
        decide(serviceOf(access), nullptr);
        return allowed;
    }

    int authorizationStatus(Subject subject) override { return statusOf(current(serviceOf(subject))); }

    void requestCapture(Subject subject, std::function<void(bool)> completion) override {
        if (subject != Subject::audio && subject != Subject::video)
            return deliver([completion = std::move(completion)] { completion(false); });
        decide(serviceOf(subject),
               [completion = std::move(completion)](Value value) { completion(value == Value::allowed); });
    }

    void requestSpeech(std::function<void(int)> completion) override {
        decide(speech, [completion = std::move(completion)](Value value) { completion(statusOf(value)); });
    }

private:
    // A hardened program without the entitlement can never use the camera
    // or the microphone: the system denies its requests without asking or
    // storing, so its readings stay as they were (not determined).
    bool neverGranted(std::string_view service) const {
        if (!signature_ || (signature_->flags & CodeSigning::runtimeFlag) == 0) return false;
        const char* key = service == camera       ? "com.apple.security.device.camera"
                          : service == microphone ? "com.apple.security.device.audio-input"
                                                  : nullptr;
        if (key == nullptr) return false;
        const auto& entitlements = signature_->entitlements;
        auto found = entitlements.is_object() ? entitlements.find(key) : entitlements.end();
        return found == entitlements.end() || *found != true;
    }

    std::optional<Value> current(std::string_view service) { return memory_->read(service); }

    void deliver(Task task) { completions_.async(std::move(task)); }

    // Takes the decision as this process sees it, asking the person when
    // there is none. The completion, when given, gets the decision: at once,
    // or once the person answered; without one nobody waits for the answer.
    void decide(std::string_view service, std::function<void(Value)> completion) {
        if (neverGranted(service)) {
            if (completion) deliver([completion = std::move(completion)] { completion(Value::denied); });
            return;
        }
        if (auto value = current(service)) {
            if (completion) deliver([completion = std::move(completion), value = *value] { completion(value); });
            return;
        }
        Prompt prompt{PromptKind::privacy, std::string(service), promptText(memory_->client, service), {"allow", "deny"}};
        person_.ask(std::move(prompt), [memory = memory_, service = std::string(service), &completions = completions_,
                                        completion = std::move(completion)](const std::string& answer) {
            Value given = answer == "allow" ? Value::allowed : Value::denied;
            memory->answered(service, given);
            if (completion) completions.async([completion, given] { completion(given); });
        });
    }

    std::shared_ptr<Memory> memory_;
    Person& person_;
    Queue& completions_;
    std::optional<CodeSigning::SigningInformation> signature_;
};

} // namespace

std::string ownClient() {
    if (auto identifier = mainBundleIdentifier(); identifier && !identifier->empty()) return *identifier;
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return SimulatedHost::macPath(executable);
}

Services& Services::current() {
    // Never destroyed: background queues may still read while the process
    // exits.
    static Services& services = *makeSimulatedServices(SimulatedHost::root(), ownClient(),
                                                       {mainBundleIdentifier(), ::getpid()}, Person::current(),
                                                       globalQueue())
                                     .release();
    return services;
}

std::unique_ptr<Services> makeSimulatedServices(std::filesystem::path root, std::string client, Asker,
                                                Person& person, Queue& completions,
                                                std::optional<CodeSigning::SigningInformation> signature) {
    return std::make_unique<SimulatedServices>(std::move(root), std::move(client), person, completions,
                                               std::move(signature));
}

} // namespace Platform::Privacy
