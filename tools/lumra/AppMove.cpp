#include "AppCommand.hpp"
#include "Client.hpp"

namespace Client::AppCommand {

// A placeholder until this command is built.
int move(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    err << "lumra app move: not built yet\n";
    return ExitStatus::usage;
}

} // namespace Client::AppCommand
