#include <Platform/SystemLog.hpp>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Platform::SystemLogType;

// The host's system log is the journal, and only while journald listens.
TEST(SystemLog, TheJournalIsEnabledExactlyWhenItsSocketIsThere) {
    bool listening = std::filesystem::is_socket("/run/systemd/journal/socket");
    auto logger = Platform::systemLog().logger("app.lumra.tests", "root");
    for (auto type : {SystemLogType::error, SystemLogType::standard, SystemLogType::debug})
        EXPECT_EQ(logger->enabled(type), listening);
    // Either way, writing is safe.
    logger->write(SystemLogType::debug, "{\"msg\":\"system log test\",\"text\":\"100% %s %n\"}");
}

class Silent final : public Platform::SystemLog {
public:
    std::unique_ptr<Platform::SystemLogger> logger(std::string_view, std::string_view) override { return nullptr; }
};

TEST(SystemLog, AReplacementStandsInUntilItIsTakenBack) {
    Platform::SystemLog& host = Platform::systemLog();
    Silent silent;
    Platform::setSystemLog(&silent);
    EXPECT_EQ(&Platform::systemLog(), &silent);
    Platform::setSystemLog(nullptr);
    EXPECT_EQ(&Platform::systemLog(), &host);
}

} // namespace
