#pragma once

#include <ostream>
#include <string>
#include <vector>

// `lumra app …`: questions about the application bundle this lumra runs from.
namespace Client::AppCommand {

// Runs the arguments after "app" and answers the exit status.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace Client::AppCommand
