#pragma once

#include <ostream>
#include <string>
#include <vector>

// `lumra background …`: lumrad as the app's launch agent, and the app as a
// login item, turned on and off through the background-service registry.
namespace Client::Background {

// Runs the arguments after "background" and answers the exit status.
int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace Client::Background
