#pragma once

#include <Platform/Privacy.hpp>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace TestSupport {

// The platform's privacy services in memory: set the fields to script it;
// `calls` says what it was asked, in order. Completions go through
// `completions`. A request's answer is what this process reads afterwards,
// as on the platform.
class FakePrivacyServices final : public Platform::Privacy::Services {
public:
    explicit FakePrivacyServices(Platform::Queue& completions) : completions_(completions) {}

    bool hasPreflight() override { return preflightPresent; }
    bool hasRequest() override { return requestPresent; }
    bool hasDisclaim() override { return disclaimPresent; }
    int preflight(std::string_view service) override {
        auto found = codes.find(std::string(service));
        return found == codes.end() ? 2 : found->second;
    }
    void request(std::string_view service, std::function<void(bool)> completion) override {
        calls.push_back("request " + std::string(service));
        codes[std::string(service)] = requestAnswer ? 0 : 1;
        completions_.async([completion, answer = requestAnswer] { completion(answer); });
    }
    int disclaim(posix_spawnattr_t&, int value) override {
        calls.push_back("disclaim " + std::to_string(value));
        return disclaimResult;
    }
    bool accessibilityTrusted(bool prompt) override {
        if (prompt) calls.push_back("accessibility prompt");
        return trusted;
    }
    bool preflightAccess(Platform::Privacy::Access access) override { return granted[access]; }
    bool requestAccess(Platform::Privacy::Access access) override {
        calls.push_back("request access " + std::to_string(static_cast<int>(access)));
        return granted[access];
    }
    int authorizationStatus(Platform::Privacy::Subject subject) override { return statuses[subject]; }
    void requestCapture(Platform::Privacy::Subject subject, std::function<void(bool)> completion) override {
        calls.push_back("request capture " + std::to_string(static_cast<int>(subject)));
        bool audio = subject == Platform::Privacy::Subject::audio;
        codes[audio ? "kTCCServiceMicrophone" : "kTCCServiceCamera"] = captureAnswer ? 0 : 1;
        statuses[subject] = captureAnswer ? Platform::Privacy::Status::authorized : Platform::Privacy::Status::denied;
        completions_.async([completion, answer = captureAnswer] { completion(answer); });
    }
    void requestSpeech(std::function<void(int)> completion) override {
        calls.push_back("request speech");
        bool authorized = speechAnswer == Platform::Privacy::Status::authorized;
        codes["kTCCServiceSpeechRecognition"] = authorized ? 0 : 1;
        statuses[Platform::Privacy::Subject::speech] = speechAnswer;
        completions_.async([completion, answer = speechAnswer] { completion(answer); });
    }

    bool preflightPresent = true;
    bool requestPresent = true;
    bool disclaimPresent = true;
    int disclaimResult = 0;
    std::map<std::string, int> codes; // by service name; 2 when absent
    bool trusted = false;
    std::map<Platform::Privacy::Access, bool> granted;
    std::map<Platform::Privacy::Subject, int> statuses;
    bool requestAnswer = true;
    bool captureAnswer = true;
    int speechAnswer = 3;
    std::vector<std::string> calls;

private:
    Platform::Queue& completions_;
};

} // namespace TestSupport
