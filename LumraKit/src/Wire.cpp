#include "LumraKit/Wire.hpp"

#include "LumraKit/Identity.hpp"
#include "LumraKit/Log.hpp"

#include <Platform/UTF8.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <utility>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace LumraKit::Wire {

namespace {

constexpr int backlog = 8;
constexpr timeval exchangeTimeout{2, 0};

// The longest path that, with its terminating NUL, fits the platform's
// 104-byte socket address field.
constexpr size_t maxPathBytes = 103;

// Closes the descriptor when the exchange is over, however it ends.
struct Connection {
    int fd;
    explicit Connection(int fd) : fd(fd) {}
    ~Connection() {
        if (fd >= 0) ::close(fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

void setTimeouts(int fd) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &exchangeTimeout, sizeof exchangeTimeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &exchangeTimeout, sizeof exchangeTimeout);
}

// The address of `socket`; absent when the path does not fit, so the field
// is never overfilled.
std::optional<sockaddr_un> addressOf(const std::filesystem::path& socket) {
    const std::string& bytes = socket.native();
    if (bytes.size() > maxPathBytes) return std::nullopt;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.data(), bytes.size());
    return address;
}

[[noreturn]] void cannotListen(const std::filesystem::path& socket, const std::string& why) {
    log("cannot listen on " + socket.string() + ": " + why);
    std::exit(EXIT_FAILURE);
}

// A single-byte read loop for descriptors that cannot peek (pipes).
std::optional<std::string> readLineBytewise(int fd, std::string buffer) {
    while (buffer.size() < maxLine) {
        char byte = 0;
        ssize_t count = ::read(fd, &byte, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count < 1) break;
        if (byte == '\n') return buffer;
        buffer.push_back(byte);
    }
    if (buffer.empty()) return std::nullopt;
    return buffer;
}

} // namespace

// Peeks at what has arrived, then consumes exactly up to and including the
// first line feed: a system call or two per line instead of one per byte,
// and still nothing after the line is taken from the stream.
std::optional<std::string> readLine(int fd) {
    std::string buffer;
    std::array<char, 4096> chunk;
    while (buffer.size() < maxLine) {
        size_t wanted = std::min(chunk.size(), maxLine - buffer.size());
        ssize_t peeked = ::recv(fd, chunk.data(), wanted, MSG_PEEK);
        if (peeked < 0 && errno == EINTR) continue;
        if (peeked < 0 && errno == ENOTSOCK) return readLineBytewise(fd, std::move(buffer));
        if (peeked < 1) break;
        auto end = chunk.begin() + peeked;
        auto feed = std::find(chunk.begin(), end, '\n');
        size_t taking = static_cast<size_t>(feed == end ? peeked : feed - chunk.begin() + 1);
        ssize_t taken = ::recv(fd, chunk.data(), taking, 0);
        if (taken < 0 && errno == EINTR) continue;
        if (taken < 1) break;
        if (feed != end && static_cast<size_t>(taken) == taking) {
            buffer.append(chunk.data(), taking - 1);
            return buffer;
        }
        buffer.append(chunk.data(), static_cast<size_t>(taken));
    }
    if (buffer.empty()) return std::nullopt;
    return buffer;
}

void writeLine(int fd, std::string_view data) {
    std::string line;
    line.reserve(data.size() + 1);
    line.append(data);
    line.push_back('\n');
    size_t written = 0;
    while (written < line.size()) {
        // A peer that has gone must give a failing write, not SIGPIPE.
        ssize_t count = ::send(fd, line.data() + written, line.size() - written, MSG_NOSIGNAL);
        if (count < 0 && errno == ENOTSOCK) count = ::write(fd, line.data() + written, line.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 1) return;
        written += static_cast<size_t>(count);
    }
}

int listen() {
    Paths::ensureStateDir();
    return listen(Paths::current().socket);
}

int listen(const std::filesystem::path& socket) {
    ::unlink(socket.c_str()); // a stale socket of an earlier run

    auto address = addressOf(socket);
    if (!address) cannotListen(socket, "the path is longer than 103 bytes");
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) cannotListen(socket, std::string("socket: ") + std::strerror(errno));

    // The file is born with owner-only permissions: binding under the usual
    // umask and tightening afterwards would let others connect in between.
    mode_t previous = ::umask(0177);
    int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
    int bindError = errno;
    ::umask(previous);
    if (bound != 0) cannotListen(socket, std::string("bind: ") + std::strerror(bindError));
    if (::chmod(socket.c_str(), 0600) != 0) cannotListen(socket, std::string("chmod: ") + std::strerror(errno));
    if (::listen(fd, backlog) != 0) cannotListen(socket, std::string("listen: ") + std::strerror(errno));
    return fd;
}

void acceptAndServe(int listenFd, const Handler& handle) {
    auto exchange = Exchange::accept(listenFd, std::chrono::steady_clock::now());
    while (exchange && !exchange->done()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(exchange->deadline() - std::chrono::steady_clock::now());
        pollfd watched{exchange->fd(), exchange->events(), 0};
        if (::poll(&watched, 1, static_cast<int>(std::max<int64_t>(left.count(), 0))) < 0 && errno != EINTR) {
            log(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        exchange->advance(std::chrono::steady_clock::now(), handle);
    }
}

std::optional<Exchange> Exchange::accept(int listenFd, Time now) {
    int accepted = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (accepted < 0) {
        // Nobody waits after all (the client left before we came to it).
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED)
            log(std::string("accept failed: ") + std::strerror(errno));
        return std::nullopt;
    }
    return Exchange(accepted, now);
}

Exchange::Exchange(int fd, Time now) : fd_(fd), deadline_(now + exchangeDeadline) {}

Exchange::Exchange(Exchange&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), phase_(std::exchange(other.phase_, Phase::done)), deadline_(other.deadline_),
      buffer_(std::move(other.buffer_)), written_(other.written_) {}

Exchange& Exchange::operator=(Exchange&& other) noexcept {
    if (this != &other) {
        finish();
        fd_ = std::exchange(other.fd_, -1);
        phase_ = std::exchange(other.phase_, Phase::done);
        deadline_ = other.deadline_;
        buffer_ = std::move(other.buffer_);
        written_ = other.written_;
    }
    return *this;
}

Exchange::~Exchange() { finish(); }

short Exchange::events() const {
    switch (phase_) {
    case Phase::reading: return POLLIN;
    case Phase::writing: return POLLOUT;
    case Phase::done: break;
    }
    return 0;
}

void Exchange::finish() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    phase_ = Phase::done;
}

void Exchange::advance(Time now, const Handler& handle) {
    if (phase_ == Phase::reading) read(now, handle);
    if (phase_ == Phase::writing) {
        write();
        if (phase_ == Phase::writing && now >= deadline_) finish(); // too slow to take its reply
    }
}

// Peeks at what has arrived, then consumes exactly up to and including the
// first line feed, as readLine does, without waiting for anything.
void Exchange::read(Time now, const Handler& handle) {
    std::array<char, 4096> chunk;
    while (buffer_.size() < maxLine) {
        size_t wanted = std::min(chunk.size(), maxLine - buffer_.size());
        ssize_t peeked = ::recv(fd_, chunk.data(), wanted, MSG_PEEK | MSG_DONTWAIT);
        if (peeked < 0 && errno == EINTR) continue;
        if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (now < deadline_) return; // more may come in time
            break;
        }
        if (peeked < 1) break; // the end of the stream, or an error
        auto end = chunk.begin() + peeked;
        auto feed = std::find(chunk.begin(), end, '\n');
        size_t taking = static_cast<size_t>(feed == end ? peeked : feed - chunk.begin() + 1);
        ssize_t taken = ::recv(fd_, chunk.data(), taking, MSG_DONTWAIT);
        if (taken < 0 && errno == EINTR) continue;
        if (taken < 1) break;
        if (feed != end && static_cast<size_t>(taken) == taking) {
            buffer_.append(chunk.data(), taking - 1);
            answer(now, handle);
            return;
        }
        buffer_.append(chunk.data(), static_cast<size_t>(taken));
    }
    answer(now, handle);
}

void Exchange::answer(Time now, const Handler& handle) {
    if (buffer_.empty()) {
        log("client sent no line");
        finish();
        return;
    }
    std::optional<Command> command;
    try {
        command = commandFromJSON(JSONCoder::plain.decode(buffer_));
    } catch (const DecodingError&) {
        log("undecodable command: " + (Platform::UTF8::isValid(buffer_) ? buffer_ : std::string("<binary>")));
        finish();
        return;
    }
    // The handler may throw; the connection then closes with this object.
    Reply reply = handle(*command);
    buffer_ = JSONCoder::plain.encode(toJSON(reply));
    buffer_.push_back('\n');
    written_ = 0;
    phase_ = Phase::writing;
    deadline_ = now + exchangeDeadline;
}

void Exchange::write() {
    while (written_ < buffer_.size()) {
        ssize_t count = ::send(fd_, buffer_.data() + written_, buffer_.size() - written_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (count < 1) break; // the client has gone
        written_ += static_cast<size_t>(count);
    }
    finish();
}

std::optional<Reply> roundTrip(const Command& command) { return roundTrip(command, Paths::current().socket); }

std::optional<Reply> roundTrip(const Command& command, const std::filesystem::path& socket) {
    int made = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (made < 0) return std::nullopt;
    Connection server(made);
    setTimeouts(server.fd);

    auto address = addressOf(socket);
    if (!address) return std::nullopt;
    if (::connect(server.fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) return std::nullopt;

    writeLine(server.fd, JSONCoder::plain.encode(toJSON(command)));
    auto line = readLine(server.fd);
    if (!line) return std::nullopt;
    try {
        return replyFromJSON(JSONCoder::plain.decode(*line));
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

} // namespace LumraKit::Wire
