#pragma once

#include <filesystem>
#include <optional>
#include <sys/types.h>
#include <variant>

namespace Lumrad {

// The one serving program of a state folder: a lock on a file there, held
// for as long as the process lives (the kernel lets go when it ends, however
// it ends), with the holder's process ID written in it for the next one to
// name. The descriptor never reaches a child, so a lingering hook cannot keep
// a dead service's lock.
class InstanceLock {
public:
    // Someone else holds the lock: their process ID, when the file names one.
    struct Held {
        std::optional<pid_t> pid;
    };
    // The lock file could not be opened or locked at all.
    struct Failed {
        int error;
    };

    static std::variant<InstanceLock, Held, Failed> acquire(const std::filesystem::path& file);

    InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    InstanceLock& operator=(InstanceLock&&) = delete;
    InstanceLock(const InstanceLock&) = delete;
    ~InstanceLock();

private:
    explicit InstanceLock(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace Lumrad
