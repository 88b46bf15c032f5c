#include "Platform/SystemLog.hpp"

#include <atomic>
#include <iterator>
#include <string>

#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>

#include <systemd/sd-journal.h>

namespace Platform {

namespace {

// The journal takes lines only while journald listens on this socket; a
// machine without it (a container, another init) gets nothing.
bool journalListening() {
    static const bool listening = [] {
        struct stat status {};
        return ::stat("/run/systemd/journal/socket", &status) == 0 && S_ISSOCK(status.st_mode);
    }();
    return listening;
}

// The journal priority of each type: error, notice (the unified log's
// default type sits above info) and debug.
int priority(SystemLogType type) {
    switch (type) {
    case SystemLogType::error: return LOG_ERR;
    case SystemLogType::standard: return LOG_NOTICE;
    case SystemLogType::debug: return LOG_DEBUG;
    }
    return LOG_NOTICE;
}

std::string_view typeName(SystemLogType type) {
    switch (type) {
    case SystemLogType::error: return "error";
    case SystemLogType::standard: return "default";
    case SystemLogType::debug: return "debug";
    }
    return "default";
}

// Each line is one journal entry: MESSAGE (the text), PRIORITY, and the
// subsystem, category and type in LUMRA_SUBSYSTEM, LUMRA_CATEGORY and
// LUMRA_LEVEL, with the subsystem as the syslog identifier so that
// `journalctl -t <subsystem>` finds them.
class JournalLogger final : public SystemLogger {
public:
    JournalLogger(std::string_view subsystem, std::string_view category)
        : identifier_("SYSLOG_IDENTIFIER=" + std::string(subsystem)),
          subsystem_("LUMRA_SUBSYSTEM=" + std::string(subsystem)),
          category_("LUMRA_CATEGORY=" + std::string(category)) {}

    bool enabled(SystemLogType) const override { return journalListening(); }

    void write(SystemLogType type, std::string_view text) override {
        if (!journalListening()) return;
        std::string message = "MESSAGE=";
        message += text;
        std::string priorityField = "PRIORITY=" + std::to_string(priority(type));
        std::string level = "LUMRA_LEVEL=";
        level += typeName(type);
        const std::string* fields[] = {&message, &priorityField, &identifier_, &subsystem_, &category_, &level};
        iovec parts[std::size(fields)];
        for (size_t i = 0; i < std::size(fields); ++i) parts[i] = {const_cast<char*>(fields[i]->data()), fields[i]->size()};
        // Given as pieces, not a format, so the text is never interpreted.
        ::sd_journal_sendv(parts, static_cast<int>(std::size(parts)));
    }

private:
    std::string identifier_;
    std::string subsystem_;
    std::string category_;
};

class Journal final : public SystemLog {
public:
    std::unique_ptr<SystemLogger> logger(std::string_view subsystem, std::string_view category) override {
        return std::make_unique<JournalLogger>(subsystem, category);
    }
};

std::atomic<SystemLog*> replaced{nullptr};

} // namespace

SystemLog& systemLog() {
    if (SystemLog* replacement = replaced.load(std::memory_order_acquire)) return *replacement;
    static Journal journal;
    return journal;
}

void setSystemLog(SystemLog* replacement) { replaced.store(replacement, std::memory_order_release); }

} // namespace Platform
