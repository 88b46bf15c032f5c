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

// Print this text on standard output and succeed: help, or the version.
struct ShowHelp {
    std::string_view text;
    friend bool operator==(const ShowHelp&, const ShowHelp&) = default;
};

// Send this command to the service and report the reply; `json` prints the
// status as the service sent it (for a hold, the whole reply, so scripts get
// the claim's ID).
struct Send {
    LumraKit::Command command;
    bool json = false;
    // A hold whose modes were not chosen: when lid cannot be had for want of
    // the sudoers grant, hold the rest and say how to get lid.
    bool lidOptional = false;
    friend bool operator==(const Send&, const Send&) = default;
};

// Hold `claim` (its term filled in once the command runs) while `command`
// runs, then end it and exit with the command's status.
struct HoldWhileRunning {
    LumraKit::Claim claim;
    std::vector<std::string> command; // the program, then its arguments
    bool lidOptional = false;
    friend bool operator==(const HoldWhileRunning&, const HoldWhileRunning&) = default;
};

// Print a setting as the service has it: the notify hook or the floor.
struct ShowSetting {
    enum class Which { notifyHook, floor } which;
    friend bool operator==(const ShowSetting&, const ShowSetting&) = default;
};

// Install the sudoers drop-in; no service involved.
struct InstallGrant {
    friend bool operator==(const InstallGrant&, const InstallGrant&) = default;
};

using Invocation = std::variant<ShowHelp, Send, HoldWhileRunning, ShowSetting, InstallGrant>;

// A command line that cannot run: `message` names the problem ("lumra:
// --for and --until cannot be used together"), `usage` is the command's and
// `command` its name ("hold"; empty for lumra itself), for the hint that
// follows: "Try 'lumra hold --help'.".
struct UsageError {
    std::string message;
    std::string_view usage;
    std::string command;
    friend bool operator==(const UsageError&, const UsageError&) = default;
};

// "Try 'lumra hold --help'." for the error's command.
std::string helpHint(const UsageError& error);



struct ParseContext {
    Platform::Date now;
    // The start time of a running process, as claims tied to it record;
    // absent when no process has that ID.
    std::function<std::optional<double>(int32_t pid)> processStart;
};

// The arguments after the program's name.
LumraKit::Result<Invocation, UsageError> parse(const std::vector<std::string>& arguments, const ParseContext& context);

} // namespace Client
