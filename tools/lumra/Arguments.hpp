#pragma once

#include <LumraKit/Result.hpp>
#include <LumraKit/Wire.hpp>
#include <Platform/Clock.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What a lumra command line asks for. Parsing touches nothing: it only reads
// the time and asks whether a process exists, both through the context.
namespace Client {

// Print this text on standard output and succeed.
struct ShowHelp {
    std::string_view text;
    friend bool operator==(const ShowHelp&, const ShowHelp&) = default;
};

// Send this command to the service and report the reply; `json` prints the
// status as the service sent it.
struct Send {
    LumraKit::Command command;
    bool json = false;
    friend bool operator==(const Send&, const Send&) = default;
};

// Install the sudoers drop-in; no service involved.
struct InstallGrant {
    friend bool operator==(const InstallGrant&, const InstallGrant&) = default;
};

using Invocation = std::variant<ShowHelp, Send, InstallGrant>;

// A command line that cannot run: `message` names the problem ("lumra hold:
// --for and --until cannot be used together"), `usage` is the command's.
struct UsageError {
    std::string message;
    std::string_view usage;
    friend bool operator==(const UsageError&, const UsageError&) = default;
};

struct ParseContext {
    Platform::Date now;
    // The start time of a running process, as claims tied to it record;
    // absent when no process has that ID.
    std::function<std::optional<double>(int32_t pid)> processStart;
};

// The arguments after the program's name.
LumraKit::Result<Invocation, UsageError> parse(const std::vector<std::string>& arguments, const ParseContext& context);

} // namespace Client
