#include "Platform/AppleEvents.hpp"
#include "Platform/Dispatch.hpp"
#include "Platform/MainBundle.hpp"
#include "Platform/Privacy.hpp"
#include "Platform/PrivacyDatabase.hpp"
#include "Platform/ProcessTable.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/UTF8.hpp"

#include <future>
#include <unistd.h>

namespace Platform::AppleEvents {

namespace {

namespace Database = PrivacyDatabase;
using Database::Value;

// Whether some process runs from a bundle with that identifier.
bool runs(const std::filesystem::path& root, const std::string& bundleID) {
    auto pids = ProcessTable::processIDs();
    if (!pids) return false;
    for (pid_t pid : *pids) {
        auto executable = ProcessTable::executablePath(pid);
        if (!executable) continue;
        auto bundle = Bundle::containing(SimulatedHost::hostPath(*executable, root));
        if (bundle && bundle->identifier == bundleID) return true;
    }
    return false;
}

int32_t codeOf(Value value) { return value == Value::allowed ? noErr : eventNotPermitted; }

class SimulatedConsent final : public Consent {
public:
    SimulatedConsent(std::filesystem::path root, std::string client, Person& person)
        : root_(std::move(root)), client_(std::move(client)), person_(person) {}

    std::variant<Address, int32_t> createAddress(std::string_view bundleID) override {
        if (bundleID.empty() || bundleID.find('\0') != std::string_view::npos || !UTF8::isValid(bundleID))
            return paramErr;
        return Address{std::string(bundleID)};
    }

    int32_t determinePermission(const Address& target, bool askUserIfNeeded) override {
        if (!runs(root_, target.bundleID)) return procNotFound;
        if (target.bundleID == client_) return noErr; // an application may always script itself
        if (auto value = Database::lookup(Database::entries(root_), client_, Database::appleEvents, target.bundleID))
            return codeOf(*value);
        if (!askUserIfNeeded) return wouldRequireUserConsent;

        // The person's answer arrives on the person's own queue, never on
        // this thread, so waiting here cannot hold it up.
        auto answered = std::make_shared<std::promise<Value>>();
        auto answer = answered->get_future();
        Prompt prompt{PromptKind::automation, target.bundleID,
                      "\u201c" + client_ + "\u201d wants access to control \u201c" + target.bundleID +
                          "\u201d. Allowing control will provide access to documents and data in \u201c" +
                          target.bundleID + "\u201d, and to perform actions within that app.",
                      {"allow", "deny"}};
        person_.ask(std::move(prompt), [root = root_, client = client_, targetID = target.bundleID,
                                        answered](const std::string& given) {
            Value value = given == "allow" ? Value::allowed : Value::denied;
            Database::store(root, client, Database::appleEvents, targetID, value, Database::byPrompt);
            answered->set_value(value);
        });
        return codeOf(answer.get());
    }

private:
    std::filesystem::path root_;
    std::string client_;
    Person& person_;
};

} // namespace

Consent& Consent::current() {
    // A person of its own, answering on a queue of its own: a caller blocked
    // on the global queue must not keep its own answer from arriving.
    // Never destroyed: a prompt may still be answered while the process
    // exits.
    static Queue* answers = makeUtilityQueue().release();
    static Person* person =
        makeSimulatedPerson(SimulatedHost::root(), {mainBundleIdentifier(), ::getpid()}, *answers).release();
    static Consent& consent = *makeSimulatedConsent(SimulatedHost::root(), Privacy::ownClient(),
                                                    {mainBundleIdentifier(), ::getpid()}, *person)
                                   .release();
    return consent;
}

std::unique_ptr<Consent> makeSimulatedConsent(std::filesystem::path root, std::string client, Asker, Person& person) {
    return std::make_unique<SimulatedConsent>(std::move(root), std::move(client), person);
}

} // namespace Platform::AppleEvents
