#pragma once

#include "Arguments.hpp"

// grantlab's views: the command's grants shown full-screen on the terminal
// in a sheet, an onboarding, chips, or GrantLab.app's own login switch.
namespace GrantLab {

// Refuses with a one-line error and exit status 2 without a terminal.
// Otherwise shows the view until Esc or q (exit 0), or until its
// "Done"/"Later" button, which prints "done" once the terminal is restored
// (exit 0). SIGTERM and SIGINT restore the terminal too.
[[noreturn]] void view(const Command& command);

} // namespace GrantLab
