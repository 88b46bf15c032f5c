#include "AppCommand.hpp"
#include "Client.hpp"

#include <AppInstallations/AppInstallation.hpp>
#include <AppInstallations/Records.hpp>

#include <set>

namespace Client::AppCommand {

// Every record whose identifier is one this copy of the app carries: its
// own, other copies' and their extensions', wherever they lie.
int records(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (!arguments.empty()) {
        err << "lumra app records: takes no arguments\n\n" << usage;
        return ExitStatus::usage;
    }
    auto app = AppInstallation::bundle();
    if (!app) {
        err << "lumra app records: this lumra runs from a bare build, outside any app\n";
        return ExitStatus::refused;
    }
    std::set<std::string> identifiers;
    for (const auto& carried : AppInstallation::carried(*app)) identifiers.insert(carried.identifier);
    if (identifiers.empty()) {
        err << "lumra app records: " << *app << " has no bundle identifier\n";
        return ExitStatus::refused;
    }
    try {
        for (const auto& record : AppInstallation::dump())
            if (identifiers.contains(record.identifier)) out << record.identifier << "\t" << record.url << "\n";
    } catch (const AppInstallation::RecordsError& error) {
        err << "lumra app records: " << error.what() << "\n";
        return ExitStatus::refused;
    }
    return ExitStatus::done;
}

} // namespace Client::AppCommand
