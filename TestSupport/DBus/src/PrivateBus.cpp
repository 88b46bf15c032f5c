#include "TestSupport/PrivateBus.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace TestSupport {

namespace {

using namespace std::chrono_literals;

// Python starts slowly on a loaded machine; the daemon quickly.
constexpr auto startLimit = 20s;

// Everything may talk to everything: the bus is the test's alone.
constexpr const char* configuration = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=@SOCKET@</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& overrides, int outFd,
            int errFd) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string variable(*entry);
        if (!overrides.contains(variable.substr(0, variable.find('=')))) environment.push_back(variable);
    }
    for (const auto& [name, value] : overrides) environment.push_back(name + "=" + value);
    auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (auto& text : texts) result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<std::string> arguments = argv;
    auto argumentPointers = pointers(arguments);
    auto environmentPointers = pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO);
    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, arguments[0].c_str(), &actions, nullptr, argumentPointers.data(),
                                environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + arguments[0]);
    return pid;
}

void end(pid_t pid) {
    ::kill(pid, SIGTERM);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool eventually(const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + startLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

} // namespace

PrivateBus::PrivateBus() {
    std::string socket = (folder_ / "bus").string();
    std::string text = configuration;
    text.replace(text.find("@SOCKET@"), 8, socket);
    std::ofstream(folder_ / "bus.conf") << text;

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    int errFd = ::open((folder_ / "daemon.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    daemon_ = spawn({"/usr/bin/dbus-daemon", "--config-file=" + (folder_ / "bus.conf").string(), "--nofork",
                     "--print-address=1"},
                    {}, out[1], errFd);
    ::close(out[1]);
    ::close(errFd);

    // The daemon prints its address once it listens.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + startLimit;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{out[0], POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        char buffer[512];
        ssize_t count = ::read(out[0], buffer, sizeof buffer);
        if (count <= 0) break;
        line.append(buffer, static_cast<size_t>(count));
    }
    ::close(out[0]);
    if (line.find('\n') == std::string::npos) {
        end(daemon_);
        throw std::runtime_error("dbus-daemon did not start");
    }
    address_ = line.substr(0, line.find('\n'));

    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address_.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0) {
        end(daemon_);
        throw std::runtime_error("cannot connect to the private bus");
    }
}

PrivateBus::~PrivateBus() {
    for (pid_t mock : mocks_) end(mock);
    sd_bus_flush_close_unref(bus_);
    end(daemon_);
}

std::map<std::string, std::string> PrivateBus::environment() const {
    return {{"DBUS_SYSTEM_BUS_ADDRESS", address_}, {"DBUS_SESSION_BUS_ADDRESS", address_}};
}

pid_t PrivateBus::startMock(const std::string& templateName, const std::string& busName,
                            const std::string& parameters) {
    std::vector<std::string> argv{"/usr/bin/python3", "-m", "dbusmock", "--template", templateName};
    if (!parameters.empty()) argv.insert(argv.end(), {"--parameters", parameters});
    std::string logName = "mock-" + std::to_string(mocks_.size()) + ".log";
    int logFd = ::open((folder_ / logName).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    pid_t pid = spawn(argv, environment(), logFd, logFd);
    ::close(logFd);
    mocks_.push_back(pid);
    if (!eventually([&] { return hasOwner(busName); }))
        throw std::runtime_error("the mock " + templateName + " did not take " + busName);
    return pid;
}

void PrivateBus::stopMock(pid_t pid, const std::string& busName) {
    std::erase(mocks_, pid);
    end(pid);
    eventually([&] { return !hasOwner(busName); });
}

bool PrivateBus::hasOwner(const std::string& name) const {
    sd_bus_message* reply = call(nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "NameHasOwner", "s", name.c_str());
    int owned = 0;
    if (reply) sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    return owned != 0;
}

std::vector<PrivateBus::Inhibitor> PrivateBus::inhibitors() const {
    std::string error;
    sd_bus_message* reply = call(&error, "org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", "ListInhibitors", "");
    if (!reply) throw std::runtime_error("ListInhibitors failed: " + error);
    std::vector<Inhibitor> listed;
    sd_bus_message_enter_container(reply, 'a', "(ssssuu)");
    const char *what, *who, *why, *mode;
    uint32_t uid, pid;
    while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
        listed.push_back({what, who, why, mode});
    sd_bus_message_unref(reply);
    return listed;
}

void PrivateBus::setBoolean(const char* destination, const char* path, const char* interface, const char* name,
                            bool value) {
    std::string error;
    sd_bus_message* reply = call(&error, destination, path, "org.freedesktop.DBus.Properties", "Set", "ssv",
                                 interface, name, "b", static_cast<int>(value));
    if (!reply) throw std::runtime_error(std::string("setting ") + name + " failed: " + error);
    sd_bus_message_unref(reply);
}

void PrivateBus::setString(const char* destination, const char* path, const char* interface, const char* name,
                           const char* value) {
    std::string error;
    sd_bus_message* reply = call(&error, destination, path, "org.freedesktop.DBus.Properties", "Set", "ssv",
                                 interface, name, "s", value);
    if (!reply) throw std::runtime_error(std::string("setting ") + name + " failed: " + error);
    sd_bus_message_unref(reply);
}

} // namespace TestSupport
