#include <LumraKit/Wire.hpp>

#include <TestSupport/LocalClient.hpp>
#include <TestSupport/TempDir.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using LumraKit::Command;
using LumraKit::Reply;
using testing::HasSubstr;
namespace Wire = LumraKit::Wire;

// Both ends of a connected local stream.
struct SocketPair {
    int ends[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0); }
    ~SocketPair() {
        for (int fd : ends)
            if (fd >= 0) ::close(fd);
    }
    void send(std::string_view bytes) const { ASSERT_EQ(::write(ends[0], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
    void closeSending() const { ::shutdown(ends[0], SHUT_WR); }
    // Everything still unread on the receiving end, without waiting.
    std::string rest() const {
        std::string all;
        char buffer[4096];
        ssize_t count;
        while ((count = ::recv(ends[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0) all.append(buffer, static_cast<size_t>(count));
        return all;
    }
};

TEST(WireFraming, ReadsOneLineAndNotOneByteMore) {
    SocketPair pair;
    pair.send("{\"status\":{}}\n{\"resume\":{}}\n");
    EXPECT_EQ(Wire::readLine(pair.ends[1]), "{\"status\":{}}");
    EXPECT_EQ(pair.rest(), "{\"resume\":{}}\n");
}

TEST(WireFraming, EmptyLineIsALineButNothingIsNothing) {
    SocketPair pair;
    pair.send("\n");
    pair.closeSending();
    EXPECT_EQ(Wire::readLine(pair.ends[1]), "");
    EXPECT_EQ(Wire::readLine(pair.ends[1]), std::nullopt);
}

TEST(WireFraming, FinalLineWithoutLineFeedEndsAtEndOfStream) {
    SocketPair pair;
    pair.send("{\"status\":{}}");
    pair.closeSending();
    EXPECT_EQ(Wire::readLine(pair.ends[1]), "{\"status\":{}}");
}

TEST(WireFraming, LongLinesAreCutAtTheCapAndTheRestIsLeft) {
    SocketPair pair;
    std::string sent(Wire::maxLine + 1000, 'a');
    std::thread writer([&] { pair.send(sent + "\nnext"); pair.closeSending(); });
    auto line = Wire::readLine(pair.ends[1]);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->size(), Wire::maxLine);
    EXPECT_EQ(*line, std::string(Wire::maxLine, 'a'));
    writer.join();
    EXPECT_EQ(pair.rest(), std::string(1000, 'a') + "\nnext");
}

TEST(WireFraming, LineFeedAtTheCapBoundary) {
    SocketPair pair;
    std::thread writer([&] { pair.send(std::string(Wire::maxLine - 1, 'b') + "\nz"); });
    auto line = Wire::readLine(pair.ends[1]);
    writer.join();
    ASSERT_TRUE(line);
    EXPECT_EQ(line->size(), Wire::maxLine - 1);
    EXPECT_EQ(pair.rest(), "z");
}

TEST(WireFraming, PipesAreReadByteByByte) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "one\ntwo", 7), 7);
    ::close(fds[1]);
    EXPECT_EQ(Wire::readLine(fds[0]), "one");
    EXPECT_EQ(Wire::readLine(fds[0]), "two");
    EXPECT_EQ(Wire::readLine(fds[0]), std::nullopt);
    ::close(fds[0]);
}

TEST(WireFraming, WriteLineAppendsTheLineFeedAndSurvivesAGonePeer) {
    SocketPair pair;
    Wire::writeLine(pair.ends[0], "{\"ok\":true}");
    char buffer[64];
    ssize_t count = ::recv(pair.ends[1], buffer, sizeof buffer, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), "{\"ok\":true}\n");
    ::close(pair.ends[1]);
    pair.ends[1] = -1;
    Wire::writeLine(pair.ends[0], std::string(200000, 'x')); // no SIGPIPE: the test process lives on
}

// A listening socket in a temporary folder, served one client at a time on
// a thread of its own.
class WireServer : public testing::Test {
protected:
    void SetUp() override { listenFd = Wire::listen(socket); }
    void TearDown() override {
        if (server.joinable()) server.join();
        ::close(listenFd);
    }

    // Serves the next client in the background, answering with `reply`.
    void serveOnce(Reply reply = idle()) {
        server = std::thread([this, reply] {
            Wire::acceptAndServe(listenFd, [&](const Command& command) {
                handled.push_back(command);
                return reply;
            });
        });
    }

    // What a raw client gets back after sending `bytes` and closing its
    // sending side; the server's log lines are captured meanwhile.
    std::string exchangeRaw(std::string_view bytes) {
        serveOnce();
        std::string answer;
        {
            TestSupport::LocalClient client(socket);
            EXPECT_EQ(client.error(), 0);
            client.send(bytes);
            client.closeSending();
            answer = client.readToEnd();
        }
        server.join();
        return answer;
    }

    static Reply idle() {
        Reply reply;
        reply.ok = true;
        reply.status.floor = 15;
        reply.status.updateCheck = true;
        return reply;
    }

    TestSupport::TempDir folder;
    std::filesystem::path socket = folder / "lumra.sock";
    int listenFd = -1;
    std::thread server;
    std::vector<Command> handled;
};

TEST_F(WireServer, RoundTripCarriesTheCommandAndTheReply) {
    Reply answer = idle();
    answer.ended = std::vector<LumraKit::Claim>{};
    serveOnce(answer);
    auto reply = Wire::roundTrip(Command::end("backup"), socket);
    server.join();
    EXPECT_EQ(reply, answer);
    EXPECT_EQ(handled, std::vector<Command>{Command::end("backup")});
}

TEST_F(WireServer, SocketFileIsOwnerOnlyAlsoOverALeftoverFile) {
    struct stat info{};
    ASSERT_EQ(::lstat(socket.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    ::close(listenFd);
    ::unlink(socket.c_str());
    std::ofstream(socket) << "left behind";
    ::chmod(socket.c_str(), 0666);
    mode_t previous = ::umask(0);
    listenFd = Wire::listen(socket);
    ::umask(previous);
    ASSERT_EQ(::lstat(socket.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // The process umask is left as it was.
    EXPECT_EQ(::umask(previous), previous);
}

TEST_F(WireServer, CommandWithoutLineFeedIsServedWhenTheClientStopsSending) {
    std::string answer = exchangeRaw(R"({"status":{}})");
    EXPECT_EQ(handled, std::vector<Command>{Command::status()});
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer.back(), '\n');
    EXPECT_EQ(answer.find('\n'), answer.size() - 1);
    EXPECT_EQ(LumraKit::replyFromJSON(nlohmann::json::parse(answer)), idle());
}

TEST_F(WireServer, SecondLineOnTheConnectionIsNeverRead) {
    std::string answer = exchangeRaw("{\"suspend\":{}}\n{\"resume\":{}}\n");
    EXPECT_EQ(handled, std::vector<Command>{Command::suspend()});
    EXPECT_FALSE(answer.empty());
}

TEST_F(WireServer, SilentClientIsLoggedAndDropped) {
    testing::internal::CaptureStderr();
    std::string answer = exchangeRaw("");
    std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(handled.empty());
    EXPECT_THAT(logged, testing::MatchesRegex("[0-9T:Z-]+ client sent no line\n"));
}

TEST_F(WireServer, UndecodableCommandGetsNoReply) {
    testing::internal::CaptureStderr();
    std::string answer = exchangeRaw("{\"status\":{},\"resume\":{}}\n");
    std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(handled.empty());
    EXPECT_THAT(logged, HasSubstr(" undecodable command: {\"status\":{},\"resume\":{}}\n"));
    EXPECT_THAT(logged, testing::Not(HasSubstr("Invalid number"))); // the decoding error is not logged
}

TEST_F(WireServer, InvalidUTF8IsLoggedAsBinary) {
    testing::internal::CaptureStderr();
    std::string answer = exchangeRaw("{\"end\":{\"_0\":\"\xff\xfe\"}}\n");
    std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, "");
    EXPECT_THAT(logged, HasSubstr(" undecodable command: <binary>\n"));
}

TEST_F(WireServer, OverlongLineIsCutAndRefused) {
    testing::internal::CaptureStderr();
    std::string padding(Wire::maxLine, ' ');
    std::string answer = exchangeRaw("{\"status\":{}" + padding + "}\n");
    std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(handled.empty());
    EXPECT_THAT(logged, HasSubstr(" undecodable command: {\"status\":{}  "));
}

TEST_F(WireServer, ClientLeavingBeforeTheReplyDoesNotHurtTheServer) {
    std::atomic<bool> clientGone{false};
    server = std::thread([this, &clientGone] {
        Wire::acceptAndServe(listenFd, [&](const Command&) {
            while (!clientGone) std::this_thread::yield();
            Reply big = idle();
            big.error = std::string(300000, 'e'); // more than the socket buffers hold
            return big;
        });
    });
    {
        TestSupport::LocalClient client(socket);
        client.send("{\"status\":{}}\n");
    }
    clientGone = true;
    server.join(); // no SIGPIPE took the process down
    serveOnce();
    EXPECT_TRUE(Wire::roundTrip(Command::status(), socket)); // and the listener still serves
}

TEST_F(WireServer, RoundTripGivesNothingForUnusableAnswers) {
    // The server closes without answering.
    server = std::thread([this] {
        int client = ::accept(listenFd, nullptr, nullptr);
        (void)Wire::readLine(client);
        ::close(client);
    });
    EXPECT_EQ(Wire::roundTrip(Command::status(), socket), std::nullopt);
    server.join();
    // The answer is not a reply.
    server = std::thread([this] {
        int client = ::accept(listenFd, nullptr, nullptr);
        (void)Wire::readLine(client);
        Wire::writeLine(client, R"({"ok":true,"status":{}})");
        ::close(client);
    });
    EXPECT_EQ(Wire::roundTrip(Command::status(), socket), std::nullopt);
    server.join();
}

// One exchange driven by hand on explicit times, as a poll loop drives it:
// each direction has one deadline however the bytes trickle in, and a
// client that will not take its reply is dropped at the second one.
TEST_F(WireServer, EachDirectionOfAnExchangeHasOneDeadline) {
    using namespace std::chrono_literals;
    struct Case {
        std::vector<std::string> drips; // one every 1.5 s (of the exchange's own time)
        std::string logged;             // at the deadline
        size_t handled;
    };
    const Case cases[] = {
        {{"{\"sta", "tus\":"}, "undecodable command: {\"status\":\n", 0},
        {{}, "client sent no line\n", 0},
        // Whatever came by the deadline is the line, as when a client stops sending.
        {{"{\"status\"", ":{}}"}, "", 1},
    };
    for (const auto& [drips, logged, count] : cases) {
        handled.clear();
        TestSupport::LocalClient client(socket);
        auto start = std::chrono::steady_clock::time_point(100s);
        auto exchange = Wire::Exchange::accept(listenFd, start);
        ASSERT_TRUE(exchange.has_value());
        EXPECT_EQ(exchange->deadline(), start + Wire::exchangeDeadline);
        EXPECT_EQ(exchange->events(), POLLIN);
        auto handle = [&](const Command& command) {
            handled.push_back(command);
            return idle();
        };
        auto now = start;
        testing::internal::CaptureStderr();
        for (const auto& drip : drips) {
            client.send(drip);
            exchange->advance(now, handle);
            EXPECT_FALSE(exchange->done()) << drip;
            now += 1500ms;
        }
        exchange->advance(start + Wire::exchangeDeadline, handle);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(handled.size(), count);
        if (!logged.empty()) {
            EXPECT_THAT(log, testing::EndsWith("Z " + logged));
        }
        EXPECT_TRUE(exchange->done());
        EXPECT_EQ(exchange->events(), 0);
    }

    // The reply direction: a client that sends its line and never reads.
    Reply large = idle();
    large.error = std::string(4 << 20, 'x');
    TestSupport::LocalClient reader(socket);
    reader.send("{\"status\":{}}\n");
    auto start = std::chrono::steady_clock::time_point(100s);
    auto exchange = Wire::Exchange::accept(listenFd, start);
    ASSERT_TRUE(exchange.has_value());
    exchange->advance(start + 1s, [&](const Command&) { return large; });
    EXPECT_FALSE(exchange->done());
    EXPECT_EQ(exchange->events(), POLLOUT);
    EXPECT_EQ(exchange->deadline(), start + 1s + Wire::exchangeDeadline) << "the reply has a deadline of its own";
    exchange->advance(start + 1s + Wire::exchangeDeadline, [](const Command&) -> Reply { throw std::logic_error("again"); });
    EXPECT_TRUE(exchange->done());
    EXPECT_LT(reader.readToEnd().size(), large.error->size()) << "dropped before all of it went";

    // Nobody waiting: no exchange, nothing logged.
    ::fcntl(listenFd, F_SETFL, O_NONBLOCK);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Wire::Exchange::accept(listenFd, start).has_value());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(WireClient, NothingListeningGivesNothing) {
    TestSupport::TempDir folder;
    EXPECT_EQ(Wire::roundTrip(Command::status(), folder / "lumra.sock"), std::nullopt);
    std::ofstream(folder / "plain") << "not a socket";
    EXPECT_EQ(Wire::roundTrip(Command::status(), folder / "plain"), std::nullopt);
}

TEST(WireClient, OverlongPathGivesNothingWithoutTouchingTheAddress) {
    TestSupport::TempDir folder;
    std::filesystem::path deep = folder.path();
    while (deep.native().size() <= 103) deep /= "deeper-folder";
    std::filesystem::create_directories(deep);
    EXPECT_EQ(Wire::roundTrip(Command::status(), deep / "lumra.sock"), std::nullopt);
}

TEST(WireListen, OverlongPathStopsTheServingProgram) {
    TestSupport::TempDir folder;
    std::filesystem::path socket = folder.path();
    while (socket.native().size() <= 103) socket /= "deeper-folder";
    socket /= "lumra.sock";
    EXPECT_EXIT(Wire::listen(socket), testing::ExitedWithCode(1),
                "cannot listen on .*lumra.sock: the path is longer than 103 bytes");
}

TEST(WireListen, PathOfExactly103BytesFits) {
    TestSupport::TempDir folder;
    std::string name(103 - folder.path().native().size() - 1, 's');
    std::filesystem::path socket = folder / name;
    ASSERT_EQ(socket.native().size(), 103u);
    int fd = Wire::listen(socket);
    EXPECT_GE(fd, 0);
    std::thread server([fd] { Wire::acceptAndServe(fd, [](const Command&) { Reply reply; reply.ok = true; return reply; }); });
    EXPECT_TRUE(Wire::roundTrip(Command::status(), socket));
    server.join();
    ::close(fd);
}

TEST(WireListen, UnbindablePlaceStopsTheServingProgram) {
    TestSupport::TempDir folder;
    std::filesystem::create_directories(folder / "taken/lumra.sock/inside"); // a folder cannot be unlinked
    EXPECT_EXIT(Wire::listen(folder / "taken/lumra.sock"), testing::ExitedWithCode(1),
                "cannot listen on .*lumra.sock: bind: Address already in use");
}

} // namespace
