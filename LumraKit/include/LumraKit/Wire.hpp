#pragma once

#include <LumraKit/Claim.hpp>
#include <LumraKit/Status.hpp>

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace LumraKit {

// One request on the service's socket. What it does to the engine is the
// serving program's business.
class Command {
public:
    enum class Kind {
        engage,           // claim()
        end,              // selector()
        status,
        setFloor,         // floor()
        setNotifyCommand, // text()
        setKeepDisplay,   // on()
        allowLid,         // selector()
        denyLid,          // selector()
        suspend,
        resume,
        setUpdateCheck, // on()
        handBack,
    };

    static Command engage(Claim claim) { return Command(Kind::engage, std::move(claim)); }
    static Command end(std::optional<std::string> selector = std::nullopt) { return Command(Kind::end, std::move(selector)); }
    static Command status() { return Command(Kind::status); }
    static Command setFloor(int64_t percent) { return Command(Kind::setFloor, percent); }
    static Command setNotifyCommand(std::string command) { return Command(Kind::setNotifyCommand, std::move(command)); }
    static Command setKeepDisplay(bool on) { return Command(Kind::setKeepDisplay, on); }
    static Command allowLid(std::optional<std::string> selector = std::nullopt) { return Command(Kind::allowLid, std::move(selector)); }
    static Command denyLid(std::optional<std::string> selector = std::nullopt) { return Command(Kind::denyLid, std::move(selector)); }
    static Command suspend() { return Command(Kind::suspend); }
    static Command resume() { return Command(Kind::resume); }
    static Command setUpdateCheck(bool on) { return Command(Kind::setUpdateCheck, on); }
    static Command handBack() { return Command(Kind::handBack); }

    Kind kind() const { return kind_; }
    // The case name, as on the wire: "engage", "setFloor", …
    std::string_view name() const;
    // The case of that name, if there is one.
    static std::optional<Kind> kindNamed(std::string_view name);

    // The payloads; asking a command of another case stops the process.
    const Claim& claim() const;
    const std::optional<std::string>& selector() const;
    int64_t floor() const;
    const std::string& text() const;
    bool on() const;

    friend bool operator==(const Command&, const Command&) = default;

private:
    using Payload = std::variant<std::monostate, Claim, std::optional<std::string>, int64_t, std::string, bool>;
    explicit Command(Kind kind, Payload payload = {}) : kind_(kind), payload_(std::move(payload)) {}
    [[noreturn]] void wrongCase(const char* payload) const;

    Kind kind_;
    Payload payload_;
};

// The answer to one command: whether it was done (with the user-facing
// reason when not), the engine as it is now, and what the command displaced.
struct Reply {
    Reply() = default;
    Reply(bool ok, std::optional<std::string> error, Status status, std::optional<Claim> replaced = std::nullopt,
          std::optional<Claim> coveredBy = std::nullopt, std::optional<std::vector<Claim>> ended = std::nullopt)
        : ok(ok), error(std::move(error)), status(std::move(status)), replaced(std::move(replaced)),
          coveredBy(std::move(coveredBy)), ended(std::move(ended)) {}

    bool ok = false;
    std::optional<std::string> error;
    Status status;
    std::optional<Claim> replaced;
    std::optional<Claim> coveredBy;
    std::optional<std::vector<Claim>> ended;

    friend bool operator==(const Reply&, const Reply&) = default;
};

// The JSON forms on the wire: compact objects, absent optionals left out,
// dates as plain seconds. Decoding throws DecodingError; unknown keys are
// ignored, and a command with no or several known case keys gives exactly
// "Invalid number of keys found, expected one.".
nlohmann::json toJSON(const Status& status);
Status statusFromJSON(const nlohmann::json& value);
nlohmann::json toJSON(const Command& command);
Command commandFromJSON(const nlohmann::json& value);
nlohmann::json toJSON(const Reply& reply);
Reply replyFromJSON(const nlohmann::json& value);

// Both ends of the service's socket: one connection carries one request
// line and one reply line. Every call blocks its thread.
namespace Wire {

using Handler = std::function<Reply(const Command&)>;

// Makes the listening socket at Paths::current().socket, creating the state
// folder, or at `socket` in a folder that exists. A file left at the path is
// removed, and the socket file never has more than owner read and write. A
// socket that cannot be made (a path over 103 bytes, bind or listen refused)
// stops the process with one line that says why; an invalid descriptor is
// never returned.
int listen();
int listen(const std::filesystem::path& socket);

// How long a client has to send its request, and then to take its reply:
// one deadline for each direction of an exchange, however the bytes trickle.
inline constexpr std::chrono::milliseconds exchangeDeadline{2000};

// Serves exactly one client on the listening descriptor: accepts it, reads
// one line (within one 2 s deadline), decodes it, calls `handle` once on
// this thread and writes the reply (within another). A client that sends
// nothing or garbage is logged and dropped without a reply; one that leaves
// early is not noticed. Writes never raise SIGPIPE.
void acceptAndServe(int listenFd, const Handler& handle);

// One client's exchange on the serving side, advanced whenever its
// descriptor is ready, so that one thread (a poll loop that also runs the
// engine's ticks) serves many clients and none of them can hold it: nothing
// here ever blocks. The line, the decoding, the log lines and the reply are
// acceptAndServe's; a line cut short by the deadline is taken as it is.
class Exchange {
public:
    using Time = std::chrono::steady_clock::time_point;

    // Accepts one waiting client. Absent when none is waiting (a
    // non-blocking listener) or the accept fails, which is logged.
    static std::optional<Exchange> accept(int listenFd, Time now);

    Exchange(Exchange&& other) noexcept;
    Exchange& operator=(Exchange&& other) noexcept;
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;
    ~Exchange();

    int fd() const { return fd_; }
    // What to wait for: POLLIN while reading the request, POLLOUT while the
    // reply is on its way; 0 once done.
    short events() const;
    // When the current direction runs out of time.
    Time deadline() const { return deadline_; }
    bool done() const { return phase_ == Phase::done; }

    // Reads or writes what can be moved now and, once the line is complete
    // (or at the deadline), decodes it, calls `handle` once and starts on
    // the reply. A passed deadline ends the current direction.
    void advance(Time now, const Handler& handle);

private:
    enum class Phase { reading, writing, done };
    explicit Exchange(int fd, Time now);
    void read(Time now, const Handler& handle);
    void answer(Time now, const Handler& handle);
    void write();
    void finish();

    int fd_ = -1;
    Phase phase_ = Phase::reading;
    Time deadline_;
    std::string buffer_;
    size_t written_ = 0;
};

// Sends one command to the service and waits for its reply: absent when the
// service is not there, too slow, or its answer does not decode.
std::optional<Reply> roundTrip(const Command& command);
std::optional<Reply> roundTrip(const Command& command, const std::filesystem::path& socket);

// The framing. A line is at most maxLine bytes; reading never consumes a
// byte past the first line feed. Absent when nothing came before the end of
// the stream, an error or the time-out.
inline constexpr size_t maxLine = 65536;
std::optional<std::string> readLine(int fd);
// Writes `data` and a line feed, stopping silently at the first failing
// write.
void writeLine(int fd, std::string_view data);

} // namespace Wire

} // namespace LumraKit
