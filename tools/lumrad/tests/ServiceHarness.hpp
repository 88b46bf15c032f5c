#pragma once

#include "Announcer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ServiceTesting {

// Records the programs it is asked to start and hands out made-up process
// IDs (far above any real one, so reaping finds no such child), or fails
// every start with `failure` when that is set.
struct FakeStarter {
    struct Start {
        std::string path;
        std::vector<std::string> arguments;
        std::optional<Platform::Environment> environment;
        int output = -1;
    };
    std::vector<Start> starts;
    std::optional<Platform::LaunchFailure> failure;

    Lumrad::Starter starter() {
        return [this](std::string_view path, const std::vector<std::string>& arguments,
                      const std::optional<Platform::Environment>& environment,
                      int output) -> std::variant<pid_t, Platform::LaunchFailure> {
            starts.push_back({std::string(path), arguments, environment, output});
            if (failure) return *failure;
            return static_cast<pid_t>(0x3FFFFF00 + starts.size());
        };
    }
};

// Standard error, where the engine and the service log, captured while the
// object lives; text() hands over what came so far.
struct CapturedLog {
    CapturedLog() { testing::internal::CaptureStderr(); }
    ~CapturedLog() { testing::internal::GetCapturedStderr(); }
    std::string text() {
        std::string captured = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        return captured;
    }
};

} // namespace ServiceTesting
