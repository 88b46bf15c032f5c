#include "AppCommand.hpp"
#include "Client.hpp"

#include <AppInstallations/Move.hpp>
#include <Log/Output.hpp>
#include <Log/Settings.hpp>
#include <LumraJobs.hpp>
#include <Platform/QuitRequests.hpp>

#include <filesystem>
#include <optional>

namespace Client::AppCommand {

namespace {

using AppInstallation::Scope;

int refuse(std::ostream& err, const std::string& why) {
    err << "lumra app move: " << why << "\n\n" << usage;
    return ExitStatus::usage;
}

} // namespace

int move(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    // The steps reach the system log; the terminal gets the outcome, and
    // warnings on the way (LOG_LEVEL still rules).
    Log::setLogLevel("warn");
    std::optional<Scope> scope;
    bool turnOn = false;
    for (const std::string& argument : arguments) {
        std::optional<Scope> named;
        if (argument == "--for-everyone")
            named = Scope::everyone;
        else if (argument == "--just-for-me")
            named = Scope::me;
        else if (argument == "--turn-on" && !turnOn)
            turnOn = true;
        else if (argument == "--turn-on")
            return refuse(err, "--turn-on given twice");
        else
            return refuse(err, "unknown option: " + argument);
        if (named && scope) return refuse(err, "--for-everyone or --just-for-me, once");
        if (named) scope = named;
    }
    if (!scope) return refuse(err, "--for-everyone or --just-for-me?");

    // Read before the move, which may take this copy to the Trash. The app
    // of this copy ends with the move, as it would had it moved itself.
    std::string name = AppInstallation::displayName(), destination;
    std::vector<pid_t> apps;
    if (auto running = AppInstallation::bundle()) {
        destination = AppInstallation::folder(*scope) + "/" + std::filesystem::path(*running).filename().string();
        apps = AppInstallation::appProcesses(*running);
    }
    std::vector<AppInstallation::Job> jobs;
    if (turnOn) jobs.push_back(LumraJobs::lumrad());
    try {
        AppInstallation::moveHome(*scope, jobs);
    } catch (const AppInstallation::MoveError& failure) {
        err << "lumra app move: " << failure.what() << "\n";
        return ExitStatus::refused;
    }
    for (pid_t app : apps) Platform::QuitRequests::send(app);
    // The move asked this process to quit; a command line ends by itself,
    // now, with its logs written.
    out << name << " is now in " << destination << "\n";
    Log::flushLog();
    return ExitStatus::done;
}

} // namespace Client::AppCommand
