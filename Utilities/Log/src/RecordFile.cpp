#include "Log/RecordFile.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Log {

RecordFile::~RecordFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool RecordFile::pathNamesOpenFile(const std::string& path) const {
    struct stat named {};
    return ::lstat(path.c_str(), &named) == 0 && named.st_dev == dev_ && named.st_ino == ino_;
}

void RecordFile::reopen(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_ = path;
    if (auto slash = path.rfind('/'); slash != std::string::npos && slash > 0)
        ::mkdir(path.substr(0, slash).c_str(), 0700); // one level; an existing folder is fine
    int fd;
    // Opening a regular file is not interrupted in practice, but a FIFO or a
    // network file system may be.
    do fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        openError_ = errno;
        stale_ = true;
        return;
    }
    fd_ = fd;
    struct stat opened {};
    if (::fstat(fd_, &opened) != 0) {
        stale_ = true;
        return;
    }
    dev_ = opened.st_dev;
    ino_ = opened.st_ino;
    stale_ = false;
}

std::optional<int> RecordFile::append(std::string_view text, const std::string& path) {
    if (fd_ < 0 || path_ != path || stale_ || !pathNamesOpenFile(path)) reopen(path);
    if (fd_ < 0) return openError_;

    // One write call, so that the line lands whole or not at all among lines
    // other processes append. A signal before anything was written is retried;
    // a partial write is not continued, since another line may follow it.
    ssize_t written;
    do written = ::write(fd_, text.data(), text.size());
    while (written < 0 && errno == EINTR);
    if (written < 0) return errno;
    if (static_cast<size_t>(written) != text.size()) return EIO;

    struct stat after {};
    if (::fstat(fd_, &after) == 0 && after.st_size > rotationSize) {
        // Through a symbolic link, or after someone moved the file, the path
        // names something else: that is not ours to rename.
        if (pathNamesOpenFile(path)) std::rename(path.c_str(), previousName(path).c_str());
        reopen(path);
    }
    return std::nullopt;
}

std::string RecordFile::previousName(std::string_view path) {
    auto componentStart = path.rfind('/');
    componentStart = componentStart == std::string_view::npos ? 0 : componentStart + 1;
    auto dot = path.rfind('.');
    bool hasExtension = dot != std::string_view::npos && dot > componentStart && dot + 1 < path.size();
    if (!hasExtension) return std::string(path) + ".1";
    return std::string(path.substr(0, dot)) + ".1" + std::string(path.substr(dot));
}

} // namespace Log
