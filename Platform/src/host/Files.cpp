#include "Platform/Files.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::Files {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

} // namespace

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

std::optional<std::string> read(const std::filesystem::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[8192];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            content.append(buffer, static_cast<size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) { // a folder, say
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return content;
}

std::error_code writeAtomically(const std::filesystem::path& path, std::string_view contents, mode_t mode) {
    std::string temporary = path.string() + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return lastError();

    bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, contents);
    std::error_code error = written ? std::error_code{} : lastError();
    if (::close(fd) != 0 && !error) error = lastError();
    if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) error = lastError();
    if (error) ::unlink(temporary.c_str());
    return error;
}

std::error_code append(const std::filesystem::path& path, std::string_view text, mode_t mode) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) return lastError();
    std::error_code error = writeAll(fd, text) ? std::error_code{} : lastError();
    ::close(fd);
    return error;
}

std::string absolutePath(const std::string& path) {
    if (path.starts_with("/")) return path;
    return (std::filesystem::current_path() / path).lexically_normal().string();
}

std::error_code createDirectories(const std::filesystem::path& path, mode_t mode) {
    std::error_code error;
    std::filesystem::path parent = path.parent_path();
    if (!parent.empty() && parent != path) std::filesystem::create_directories(parent, error);
    if (error) return error;
    if (::mkdir(path.c_str(), mode) == 0) return {};
    std::error_code made = lastError();
    if (made.value() == EEXIST && std::filesystem::is_directory(path, error)) return {};
    return made;
}

std::error_code makePrivate(const std::filesystem::path& folder) {
    std::error_code first;
    auto tighten = [&](const std::filesystem::path& path, bool folderExpected) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (!first) first = lastError();
            return;
        }
        bool fits = folderExpected ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
        if (!fits || (info.st_mode & 077) == 0) return;
        if (::chmod(path.c_str(), info.st_mode & 07700) != 0 && !first) first = lastError();
    };
    tighten(folder, true);
    std::error_code listing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, listing)) tighten(entry.path(), false);
    if (listing && !first) first = listing;
    return first;
}

Lock::Lock(const std::filesystem::path& path) {
    createDirectories(path.parent_path());
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0)
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
}

Lock::~Lock() {
    if (fd_ >= 0) ::close(fd_); // closing releases the lock
}

} // namespace Platform::Files
