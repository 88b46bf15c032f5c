#pragma once

#include <ostream>
#include <string>
#include <vector>

// `lumra app …`: the application bundle this lumra runs from: where it
// lives, moving it into Applications, and its Launch Services records.
namespace Client::AppCommand {

// Runs the arguments after "app" and answers the exit status.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// `lumra app move …` and `lumra app records`, given the arguments after the
// command's name.
int move(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
int records(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The usage text, for the commands' own refusals.
extern const std::string_view usage;

} // namespace Client::AppCommand
