#include "AppCommand.hpp"
#include "Client.hpp"

#include <AppInstallations/AppInstallation.hpp>

namespace Client::AppCommand {

const std::string_view usage =
    "usage: lumra app where\n"
    "       lumra app move --for-everyone|--just-for-me [--turn-on]\n"
    "       lumra app records\n"
    "\n"
    "  where     where this copy of the app runs from: Applications, your own\n"
    "            Applications folder, the disk image, a copy macOS made of the\n"
    "            download, the folder that holds it, or a bare build\n"
    "  move      copy the app into /Applications (--for-everyone) or\n"
    "            ~/Applications (--just-for-me), open it there and end this\n"
    "            copy; --turn-on also turns the service on as a background job\n"
    "  records   the records Launch Services holds for this app\n";

int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        out << usage;
        return ExitStatus::done;
    }
    if (arguments.size() == 1 && arguments[0] == "where") {
        out << AppInstallation::home().words() << "\n";
        return ExitStatus::done;
    }
    if (!arguments.empty() && arguments[0] == "move") return move({arguments.begin() + 1, arguments.end()}, out, err);
    if (!arguments.empty() && arguments[0] == "records")
        return records({arguments.begin() + 1, arguments.end()}, out, err);
    err << (arguments.empty() ? "lumra app: which question?" : "lumra app: unknown command: " + arguments[0]) << "\n\n"
        << usage;
    return ExitStatus::usage;
}

} // namespace Client::AppCommand
