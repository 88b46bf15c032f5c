// The machine's policy per kind of job, and the registry's words.

#include "BackgroundServicesStore.hpp"
#include "CompactJSON.hpp"

#include <cmath>
#include <map>

namespace Platform::BackgroundServices {

namespace {

using nlohmann::json;
using Decision = Policy::Decision;

std::filesystem::path policyFile(const std::filesystem::path& root) { return root / "background/policy.json"; }

const char* kindKey(Handle::Kind kind) {
    switch (kind) {
    case Handle::Kind::agent: return "agent";
    case Handle::Kind::daemon: return "daemon";
    case Handle::Kind::loginItem: return "loginItem";
    }
    return "loginItem";
}

const std::map<std::string, Decision> decisions{{"enabled", Decision::enabled},
                                                {"ask", Decision::ask},
                                                {"denied", Decision::denied},
                                                {"switchedOff", Decision::switchedOff},
                                                {"ignored", Decision::ignored}};

// As on the platform: agents and the login item run once registered (the
// person is only told), daemons wait for the person's approval.
Policy fresh(Handle::Kind kind) { return {kind == Handle::Kind::daemon ? Decision::ask : Decision::enabled, {}, 0}; }

std::optional<Policy> parse(const json& value) {
    if (value.is_string()) {
        auto decision = decisionNamed(value.get<std::string>());
        if (!decision) return std::nullopt;
        return Policy{*decision, {}, 0};
    }
    if (!value.is_object()) return std::nullopt;
    auto decision = value.find("decision");
    if (decision == value.end()) return std::nullopt;
    auto policy = parse(*decision);
    if (!policy) return std::nullopt;
    auto answer = value.find("answer");
    if (answer == value.end()) return policy;
    auto after = value.find("after");
    if (!answer->is_string() || (*answer != "approve" && *answer != "deny")) return std::nullopt;
    if (after != value.end() && (!after->is_number() || !std::isfinite(after->get<double>()) || after->get<double>() < 0))
        return std::nullopt;
    policy->answer = *answer == "approve" ? Answer::approve : Answer::deny;
    policy->after = after == value.end() ? 0 : after->get<double>();
    return policy;
}

json encode(const Policy& policy) {
    if (!policy.answer) return decisionWord(policy.decision);
    return {{"decision", decisionWord(policy.decision)},
            {"answer", *policy.answer == Answer::approve ? "approve" : "deny"},
            {"after", policy.after}};
}

json readPolicies(const std::filesystem::path& root) {
    auto text = Files::read(policyFile(root));
    json document = text ? json::parse(*text, nullptr, false) : json();
    return document.is_object() ? document : json::object();
}

} // namespace

Policy policy(Handle::Kind kind, const std::filesystem::path& root) {
    json policies = readPolicies(root);
    auto found = policies.find(kindKey(kind));
    if (found == policies.end()) return fresh(kind);
    return parse(*found).value_or(fresh(kind));
}

bool setPolicy(Handle::Kind kind, const Policy& policy, const std::filesystem::path& root) {
    if (policy.answer && (!std::isfinite(policy.after) || policy.after < 0)) return false;
    Store::Lock lock(root);
    json policies = readPolicies(root);
    policies[kindKey(kind)] = encode(policy);
    Files::createDirectories(policyFile(root).parent_path());
    return !Files::writeAtomically(policyFile(root), compactJSON(policies) + "\n");
}

std::string decisionWord(Policy::Decision decision) {
    for (const auto& [word, value] : decisions)
        if (value == decision) return word;
    return "enabled";
}

std::optional<Policy::Decision> decisionNamed(const std::string& word) {
    auto found = decisions.find(word);
    if (found == decisions.end()) return std::nullopt;
    return found->second;
}

std::string statusWords(int32_t status) {
    switch (status) {
    case notRegistered: return "not registered";
    case enabled: return "enabled";
    case requiresApproval: return "requires approval";
    case notFound: return "not found";
    default: return "unknown";
    }
}

std::string describe(int32_t code) {
    switch (code) {
    case operationNotPermitted: return "Operation not permitted";
    case internalFailure: return "An internal failure has occurred.";
    case invalidSignature:
        return "The application's code signature does not meet the requirements to perform the operation.";
    case 4: return "The request required authorization but the authorization was not granted.";
    case 5: return "The specified path does not exist or the helper tool at the specified path is not valid.";
    case jobNotFound: return "A job with the given label could not be found.";
    case 7: return "The service required to perform this operation is unavailable or is no longer accepting requests.";
    case plistNotFound: return "A plist for the job could not be found.";
    case 9: return "The job must be enabled.";
    case 10: return "The provided plist is invalid.";
    case launchDeniedByUser: return "The user denied the app's launch request.";
    case alreadyRegistered: return "The application is already registered.";
    default: return "The operation could not be completed (error " + std::to_string(code) + ").";
    }
}

} // namespace Platform::BackgroundServices
