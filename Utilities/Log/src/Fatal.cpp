#include "Log/Fatal.hpp"

#include <cerrno>
#include <cstdlib>

#include <sys/uio.h>
#include <unistd.h>

namespace Log {

void fatalError(std::string_view message) {
    constexpr std::string_view prefix = "fatal error: ";
    iovec parts[3] = {{const_cast<char*>(prefix.data()), prefix.size()},
                      {const_cast<char*>(message.data()), message.size()},
                      {const_cast<char*>("\n"), 1}};
    // One writev keeps the message whole beside other threads' lines; a short
    // or interrupted write is finished piece by piece.
    size_t part = 0;
    while (part < 3) {
        ssize_t written = ::writev(STDERR_FILENO, parts + part, static_cast<int>(3 - part));
        if (written < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (written == 0) break;
        auto left = static_cast<size_t>(written);
        while (part < 3 && left >= parts[part].iov_len) left -= parts[part++].iov_len;
        if (part < 3) {
            parts[part].iov_base = static_cast<char*>(parts[part].iov_base) + left;
            parts[part].iov_len -= left;
        }
    }
    std::abort();
}

} // namespace Log
