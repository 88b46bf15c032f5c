#pragma once

#include <memory>
#include <string_view>

// The system's log, where recorded events are copied beside the record
// file. On Linux it is the systemd journal; without a journal nothing is
// enabled and nothing is written.
namespace Platform {

// How much a system-log line matters.
enum class SystemLogType { error, standard, debug };

// Writes lines for one (subsystem, category) pair. Any thread.
class SystemLogger {
public:
    virtual ~SystemLogger() = default;
    // Whether lines of this type are kept at all; writing others is wasted.
    virtual bool enabled(SystemLogType type) const = 0;
    // Writes one line as it is (public, not redacted).
    virtual void write(SystemLogType type, std::string_view text) = 0;
};

class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual std::unique_ptr<SystemLogger> logger(std::string_view subsystem, std::string_view category) = 0;
};

// The process's system log: the host's, unless a replacement was set.
SystemLog& systemLog();

// Makes `replacement` the process's system log, so tests can watch what is
// written; nullptr puts the host's back. The replacement must outlive its
// use. Users that cache loggers notice the change by the address of
// systemLog().
void setSystemLog(SystemLog* replacement);

} // namespace Platform
