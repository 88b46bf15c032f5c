#include "Options.hpp"

#include <charconv>
#include <cmath>

namespace Lumrad {

namespace {

std::optional<std::chrono::milliseconds> tickFrom(std::string_view text) {
    double seconds = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (!std::isfinite(seconds) || seconds <= 0 || seconds > double(longestTick.count())) return std::nullopt;
    return std::chrono::milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000)));
}

} // namespace

std::variant<Options, UsageError> parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (size_t at = 0; at < arguments.size(); ++at) {
        std::string_view argument = arguments[at];
        std::string_view name = argument.substr(0, argument.find('='));
        std::optional<std::string_view> inlineValue;
        if (name.size() < argument.size() && name.starts_with("--"))
            inlineValue = argument.substr(name.size() + 1);
        else
            name = argument;

        // The value of an option that takes one, from after "=" or the next argument.
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) return inlineValue;
            if (at + 1 < arguments.size()) return arguments[++at];
            return std::nullopt;
        };
        auto noValue = [&]() -> std::optional<UsageError> {
            if (inlineValue) return UsageError{std::string(name) + " takes no value"};
            return std::nullopt;
        };

        if (name == "-h" || name == "--help") {
            if (auto error = noValue()) return *error;
            options.help = true;
            return options;
        } else if (name == "--version") {
            if (auto error = noValue()) return *error;
            options.version = true;
            return options;
        } else if (name == "--service-log") {
            if (auto error = noValue()) return *error;
            options.serviceLog = true;
        } else if (name == "--tick") {
            auto text = value();
            if (!text) return UsageError{"--tick needs a number of seconds"};
            auto tick = tickFrom(*text);
            if (!tick)
                return UsageError{"--tick takes a positive number of seconds up to " +
                                  std::to_string(longestTick.count()) + ", not \"" + std::string(*text) + "\""};
            options.tick = *tick;
        } else if (name == "--notifier") {
            auto path = value();
            if (!path || path->empty()) return UsageError{"--notifier needs the path of the notifier program"};
            options.notifier = std::filesystem::path(*path);
        } else if (name == "--host") {
            auto host = value();
            if (!host) return UsageError{"--host needs mac or linux"};
            if (*host == "mac")
                options.host = Host::mac;
            else if (*host == "linux")
                options.host = Host::linux;
            else
                return UsageError{"--host takes mac or linux, not \"" + std::string(*host) + "\""};
        } else if (name == "--update-feed") {
            auto url = value();
            if (!url || !(url->starts_with("http://") || url->starts_with("https://")))
                return UsageError{"--update-feed needs an http:// or https:// URL"};
            options.updateFeed = std::string(*url);
        } else if (argument.starts_with("-")) {
            return UsageError{"unknown option " + std::string(argument)};
        } else {
            return UsageError{"unexpected argument \"" + std::string(argument) + "\""};
        }
    }
    return options;
}

} // namespace Lumrad
