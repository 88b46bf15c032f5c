#include "SocketFile.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace Lumrad {

SocketFile::SocketFile(std::filesystem::path path) : path_(std::move(path)), identity_(identify(path_)) {}

std::optional<SocketFile::Identity> SocketFile::identify(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return Identity{info.st_dev, info.st_ino, info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
}

void SocketFile::removeIfStillOurs() const {
    if (identity_ && identify(path_) == identity_) ::unlink(path_.c_str());
}

} // namespace Lumrad
