#include "LogFile.hpp"

#include <LumraKit/Identity.hpp>
#include <Platform/Files.hpp>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace LumraApp {

std::filesystem::path windowLogFile() { return LumraKit::Paths::current().logDir / "app.log"; }

bool sendLogLinesTo(const std::filesystem::path& file) {
    using LumraKit::Paths;
    Platform::Files::createDirectories(file.parent_path(), Paths::privateFolderMode);
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, Paths::privateFileMode);
    if (fd < 0) return false;
    std::fflush(stderr);
    bool moved = ::dup2(fd, STDERR_FILENO) >= 0;
    ::close(fd);
    return moved;
}

} // namespace LumraApp
