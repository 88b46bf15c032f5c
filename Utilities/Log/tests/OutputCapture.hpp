#pragma once

// Helpers for tests of what the logging module writes: a clean logging
// environment, standard error caught in a file, a system log that keeps
// what it is given, and a fresh process for the once-per-process memories.

#include <Log/Settings.hpp>
#include <Platform/SystemLog.hpp>
#include <TestSupport/FileContents.hpp>
#include <TestSupport/RedirectedStandardError.hpp>
#include <TestSupport/ScopedEnvironment.hpp>
#include <TestSupport/TempDir.hpp>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace LogTest {

// Sets and clears variables for one test and puts everything back after
// it. Starts with every logging variable unset, the system log off and
// JSON lines, so only what a test sets differs.
class Environment : public TestSupport::ScopedEnvironment {
public:
    Environment() {
        for (const char* name : {"LOG_LEVEL", "LOG_RECORD_LEVEL", "LOG_TIME", "LOG_SERVICE", "LOG_RECORD_FILE",
                                 "LOG_SHIP", "LOG_SHIP_TOKEN", "TRACEPARENT", "A_LOG_LEVEL", "A_B_LOG_LEVEL",
                                 "INSTALL_LOG_LEVEL", "SHIP_LOG_LEVEL", "RECORD_LOG_LEVEL", "FORCE_COLOR",
                                 "NO_COLOR", "TERM"})
            unset(name);
        set("LOG_OSLOG", "0");
        set("LOG_FORMAT", "json");
    }
};

// Standard error goes to a file while the object lives.
class CapturedStandardError {
public:
    CapturedStandardError() = default;
    CapturedStandardError(const CapturedStandardError&) = delete;
    CapturedStandardError& operator=(const CapturedStandardError&) = delete;

    // Everything written so far.
    std::string text() const { return TestSupport::contents(file_); }
    std::vector<std::string> lines() const { return TestSupport::lines(file_); }
    // Every line parsed as JSON; a line that is not JSON fails the test.
    std::vector<nlohmann::json> events() const {
        std::vector<nlohmann::json> parsed;
        for (const auto& line : lines()) {
            try {
                parsed.push_back(nlohmann::json::parse(line));
            } catch (const nlohmann::json::exception&) {
                ADD_FAILURE() << "not a JSON line: " << line;
            }
        }
        return parsed;
    }
    void restore() { redirect_.restore(); }

private:
    TestSupport::TempDir folder_;
    std::filesystem::path file_ = folder_.path() / "stderr";
    TestSupport::RedirectedStandardError redirect_{file_};
};

// A system log that keeps every line written to it, and can say a type is
// not enabled.
class RecordingSystemLog final : public Platform::SystemLog {
public:
    struct Line {
        std::string subsystem;
        std::string category;
        Platform::SystemLogType type;
        std::string text;
    };

    RecordingSystemLog() { Platform::setSystemLog(this); }
    ~RecordingSystemLog() override { Platform::setSystemLog(nullptr); }

    std::unique_ptr<Platform::SystemLogger> logger(std::string_view subsystem, std::string_view category) override {
        return std::make_unique<Logger>(*this, std::string(subsystem), std::string(category));
    }

    std::vector<Line> lines() const {
        std::lock_guard hold(lock_);
        return lines_;
    }
    void disable(Platform::SystemLogType type) {
        std::lock_guard hold(lock_);
        disabled_.push_back(type);
    }

private:
    class Logger final : public Platform::SystemLogger {
    public:
        Logger(RecordingSystemLog& log, std::string subsystem, std::string category)
            : log_(log), subsystem_(std::move(subsystem)), category_(std::move(category)) {}
        bool enabled(Platform::SystemLogType type) const override {
            std::lock_guard hold(log_.lock_);
            return std::find(log_.disabled_.begin(), log_.disabled_.end(), type) == log_.disabled_.end();
        }
        void write(Platform::SystemLogType type, std::string_view text) override {
            std::lock_guard hold(log_.lock_);
            log_.lines_.push_back({subsystem_, category_, type, std::string(text)});
        }

    private:
        RecordingSystemLog& log_;
        std::string subsystem_;
        std::string category_;
    };

    mutable std::mutex lock_;
    std::vector<Line> lines_;
    std::vector<Platform::SystemLogType> disabled_;
};

// Runs `body` in a re-executed copy of this test program, where the
// process-wide memories (warnings already given, TRACEPARENT) start empty.
// `body` returns nothing when all is well, else what went wrong; the test
// fails with that text.
inline void inFreshProcess(const std::function<std::string()>& body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::string failure = body();
            if (failure.empty()) std::_Exit(0);
            failure = "\n" + failure + "\n";
            [[maybe_unused]] auto written = ::write(STDERR_FILENO, failure.data(), failure.size());
            std::_Exit(1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace LogTest
