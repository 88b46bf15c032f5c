#include "AppCommand.hpp"
#include "Client.hpp"

namespace Client::AppCommand {

// A placeholder until this command is built.
int records(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    err << "lumra app records: not built yet\n";
    return ExitStatus::usage;
}

} // namespace Client::AppCommand
