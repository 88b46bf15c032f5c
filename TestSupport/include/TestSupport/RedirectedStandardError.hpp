#pragma once

#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace TestSupport {

// Standard error goes to `path` (created, or emptied) while the object
// lives, or until restore(); then it goes back where it went before.
class RedirectedStandardError {
public:
    explicit RedirectedStandardError(const std::filesystem::path& path) : saved_(::dup(STDERR_FILENO)) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~RedirectedStandardError() { restore(); }
    RedirectedStandardError(const RedirectedStandardError&) = delete;
    RedirectedStandardError& operator=(const RedirectedStandardError&) = delete;

    void restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

private:
    int saved_;
};

} // namespace TestSupport
