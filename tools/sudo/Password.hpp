#pragma once

#include <functional>
#include <string_view>

// Asking the user for their password, as sudo does: up to three tries, on
// the terminal with echo off, or from standard input with -S.
namespace Sudo {

enum class PasswordOutcome {
    accepted,
    refused, // three wrong tries, none given, or nowhere to ask; sudo's message already printed
};

// Prompts "[sudo] password for USER: " on standard error and reads one
// line, from standard input (taking no byte past the line feed, so the rest
// is the command's) or from /dev/tty, until `check` accepts it or three tries
// failed.
PasswordOutcome askPassword(std::string_view user, bool fromStandardInput,
                            const std::function<bool(std::string_view)>& check);

} // namespace Sudo
