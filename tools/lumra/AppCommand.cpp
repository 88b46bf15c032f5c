#include "AppCommand.hpp"
#include "Client.hpp"

#include <AppInstallations/AppInstallation.hpp>

namespace Client::AppCommand {

namespace {

constexpr std::string_view usage = "usage: lumra app where\n"
                                   "\n"
                                   "  where   where this copy of the app runs from: Applications, your own\n"
                                   "          Applications folder, the disk image, a copy macOS made of the\n"
                                   "          download, the folder that holds it, or a bare build\n";

} // namespace

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        out << usage;
        return ExitStatus::done;
    }
    if (arguments.size() == 1 && arguments[0] == "where") {
        out << AppInstallation::home().words() << "\n";
        return ExitStatus::done;
    }
    err << (arguments.empty() ? "lumra app: which question?" : "lumra app: unknown command: " + arguments[0]) << "\n\n"
        << usage;
    return ExitStatus::usage;
}

} // namespace Client::AppCommand
