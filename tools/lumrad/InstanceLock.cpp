#include "InstanceLock.hpp"

#include <Platform/Files.hpp>

#include <LumraKit/Identity.hpp>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace Lumrad {

namespace {

std::optional<pid_t> pidIn(const std::filesystem::path& file) {
    auto text = Platform::Files::read(file);
    if (!text) return std::nullopt;
    pid_t pid = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), pid);
    if (error != std::errc() || pid <= 0 || end == text->data()) return std::nullopt;
    return pid;
}

} // namespace

std::variant<InstanceLock, InstanceLock::Held, InstanceLock::Failed>
InstanceLock::acquire(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, LumraKit::Paths::privateFileMode);
    if (fd < 0) return Failed{errno};
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) return Failed{error};
        // The holder writes its ID just after locking: give it a moment.
        std::optional<pid_t> holder;
        for (int attempt = 0; attempt < 20 && !(holder = pidIn(file)); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Held{holder};
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds all the same; only the name for a second instance is missing.
    }
    return InstanceLock(fd);
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

} // namespace Lumrad
