// A program the records tests run on a simulated machine of their own:
//   records-probe carried APP      one "identifier path" line per bundle
//   records-probe only APP         onlyRecord: what it said, then the outcome
//   records-probe strays APP       removeStrays: what it said, then the paths
//   records-probe unregister DIR   unregister(appsUnder:): likewise
//   records-probe indexed ID       indexedCopies, one path per line
//   records-probe claim APP        claim of APP/Contents and APP, then waits
//                                  for APP's record and the log lines
// A RecordsError prints "error: <text>" and exits 1.

#include <AppInstallations/Records.hpp>
#include <Platform/LaunchServices.hpp>
#include <Platform/SimulatedHost.hpp>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Until the database has a record at `app`, for at most five seconds.
void waitForRecord(const std::string& app) {
    for (int i = 0; i < 500; ++i) {
        for (const auto& record : Platform::LaunchServices::records(Platform::SimulatedHost::root()))
            if (record.path == app) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void said(const std::string& line) { std::cout << "said: " << line << "\n"; }

void list(const char* what, const std::vector<std::string>& items) {
    std::cout << what << ":";
    for (const auto& item : items) std::cout << " " << item;
    std::cout << "\n";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() != 2) return 64;
    const std::string& mode = arguments[0];
    const std::string& subject = arguments[1];
    try {
        if (mode == "carried") {
            for (const auto& bundle : AppInstallation::carried(subject))
                std::cout << bundle.identifier << " " << bundle.url << "\n";
        } else if (mode == "only") {
            auto records = AppInstallation::onlyRecord(subject, said);
            list("removed", records.removed);
            list("extensions", records.extensions);
        } else if (mode == "strays") {
            list("removed", AppInstallation::removeStrays(subject, said));
        } else if (mode == "unregister") {
            list("apps", AppInstallation::unregister(subject, said));
        } else if (mode == "indexed") {
            for (const auto& path : AppInstallation::indexedCopies(subject)) std::cout << path << "\n";
        } else if (mode == "claim") {
            // A copy that is no app first: its failure must not stop the next.
            AppInstallation::claim({subject + "/Contents", subject});
            waitForRecord(subject);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } else {
            return 64;
        }
    } catch (const AppInstallation::RecordsError& error) {
        std::cout << "error: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
