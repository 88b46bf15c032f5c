#pragma once

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace TestSupport {

// A client of a local stream socket that does its own talking, byte by
// byte as the test wants, with send and receive time-outs so a silent
// server cannot hang the test. The socket is closed when the object goes.
class LocalClient {
public:
    explicit LocalClient(const std::filesystem::path& socket, int timeoutSeconds = 10)
        : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        timeval timeout{timeoutSeconds, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) error_ = errno;
    }
    ~LocalClient() { ::close(fd_); }
    LocalClient(const LocalClient&) = delete;
    LocalClient& operator=(const LocalClient&) = delete;

    // The connect's error number; 0 once connected.
    int error() const { return error_; }
    int fd() const { return fd_; }

    // Sends all of `bytes` or stops at the first failure; a gone server
    // gives a failure, never SIGPIPE.
    void send(std::string_view bytes) const {
        for (size_t sent = 0; sent < bytes.size();) {
            ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count < 1) return;
            sent += static_cast<size_t>(count);
        }
    }
    void closeSending() const { ::shutdown(fd_, SHUT_WR); }

    // Everything the server writes until it closes (or the time-out).
    std::string readToEnd() const {
        std::string all;
        char buffer[4096];
        ssize_t count;
        while ((count = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) all.append(buffer, static_cast<size_t>(count));
        return all;
    }

private:
    int fd_;
    int error_ = 0;
};

} // namespace TestSupport
