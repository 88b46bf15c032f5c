#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Lumrad {

inline constexpr std::string_view usageText =
    "usage: lumrad [--tick SECONDS] [--service-log] [--notifier PATH] [--host mac|linux]\n"
    "              [--update-feed URL]\n"
    "\n"
    "Keeps the sleep-prevention engine and serves its clients on the local socket\n"
    "until SIGTERM or SIGINT, which release everything and keep the claims for the\n"
    "next start. One runs per user: a second one exits with status 1.\n"
    "\n"
    "  --tick SECONDS     how often the engine re-examines the machine (default 10)\n"
    "  --service-log      append standard output and error to the service log\n"
    "  --notifier PATH    the notifier to start for announcements (default: the one\n"
    "                     in the app bundle; outside it announcements are only logged)\n"
    "  --host mac|linux   the machine to keep awake: the simulated Mac (default), or\n"
    "                     this Linux machine through logind, UPower and power profiles\n"
    "  --update-feed URL  where the daily update check reads the newest version\n"
    "                     (default: \"updateFeed\" in config.json; none: no check)\n"
    "  --version          show the version\n"
    "  -h, --help         show this help\n";

// The longest tick accepted: beyond a day the engine would miss every guard.
inline constexpr std::chrono::seconds longestTick{86400};

// Which world the engine runs against.
enum class Host { mac, linux };

struct Options {
    std::chrono::milliseconds tick{10000};
    bool serviceLog = false;
    std::optional<std::filesystem::path> notifier;
    std::optional<std::string> updateFeed;
    bool help = false;
    bool version = false;
    Host host = Host::mac;

    friend bool operator==(const Options&, const Options&) = default;
};

// Why the command line was refused, in words for the person who typed it.
struct UsageError {
    std::string message;
    friend bool operator==(const UsageError&, const UsageError&) = default;
};

// The options the arguments (after the program name) ask for. A value goes
// in the next argument or after "=" ("--tick 5", "--tick=5"); a tick is a
// positive number of seconds, fractions allowed, rounded up to whole
// milliseconds. --help and --version stop the reading.
std::variant<Options, UsageError> parseOptions(const std::vector<std::string>& arguments);

} // namespace Lumrad
