#include "AppInstallations/AppInstallation.hpp"
#include "AppInstallations/Records.hpp"
#include "RecordsTools.hpp"

#include <Platform/Dispatch.hpp>
#include <Platform/SimulatedHost.hpp>

#include <algorithm>
#include <filesystem>
#include <set>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;
using namespace RecordsTools;

constexpr int listingAttempts = 20;

// The app's path with its links resolved, as the records name it.
std::string resolved(const std::string& app) {
    fs::path host = Platform::SimulatedHost::hostPath(standardized(app));
    std::error_code error;
    fs::path real = fs::weakly_canonical(host, error);
    return standardized(Platform::SimulatedHost::macPath(error ? host : real));
}

// Whether a line of `pluginkit -m` names exactly `identifier`: the name
// runs from the line's start (after the spaces and the election mark
// pluginkit may put there) to the version in parentheses or a space.
bool namesExactly(std::string_view line, const std::string& identifier) {
    auto skipBlanks = [&] {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    };
    skipBlanks();
    if (line.size() > 1 && std::string_view("+-!=?").find(line.front()) != std::string_view::npos &&
        (line[1] == ' ' || line[1] == '\t')) {
        line.remove_prefix(1);
        skipBlanks();
    }
    size_t end = line.find_first_of("( \t\r");
    return line.substr(0, end) == identifier;
}

bool isListed(const std::string& output, const std::string& identifier) {
    size_t start = 0;
    while (start < output.size()) {
        size_t end = std::min(output.find('\n', start), output.size());
        if (namesExactly(std::string_view(output).substr(start, end - start), identifier)) return true;
        start = end + 1;
    }
    return false;
}

// Claiming runs tools for seconds (up to twenty per slow extension), so it
// has a low-priority queue of its own rather than holding up the shared one.
Platform::Queue& claimQueue() {
    // What the work uses must outlive the queue, so it is made first.
    installLog();
    Platform::hostSleeper();
    static std::unique_ptr<Platform::Queue> claims = Platform::makeUtilityQueue();
    return *claims;
}

} // namespace

Records onlyRecord(const std::string& installed, const Said& said) {
    return onlyRecord(installed, said, Platform::hostSleeper());
}

Records onlyRecord(const std::string& installed, const Said& said, Platform::Sleeper& sleeper) {
    auto tell = [&](const std::string& line) {
        if (said) said(line);
    };
    std::string app = resolved(installed);
    std::vector<Carried> bundles = carried(app);
    if (bundles.empty() || bundles.front().url != app)
        throw RecordsError(app + " is not an app bundle (no CFBundleIdentifier)");
    const std::string& appIdentifier = bundles.front().identifier;
    std::set<std::string> identifiers;
    for (const auto& bundle : bundles) identifiers.insert(bundle.identifier);

    Records outcome;
    for (const Record& record : dump()) {
        if (!identifiers.contains(record.identifier)) continue;
        std::string path = standardized(record.url);
        if (path == app || path.starts_with(app + "/")) continue;
        if (hasExtension(path, "appex")) tool(pluginkit, {"-r", record.url});
        ToolResult unregistered = tool(lsregister, {"-u", record.url});
        std::string line = "unregistered " + record.identifier + " at " + record.url;
        if (unregistered.status != 0)
            line +=
                " (lsregister said " + std::to_string(unregistered.status) + ": " + oneLine(unregistered.output) + ")";
        tell(line);
        outcome.removed.push_back(record.url);
    }

    ToolResult registered = tool(lsregister, {"-f", app});
    if (registered.status != 0)
        throw RecordsError("lsregister -f " + app + " exited " + std::to_string(registered.status) + ": " +
                           oneLine(registered.output));

    for (const auto& bundle : bundles) {
        if (!hasExtension(bundle.url, "appex")) continue;
        for (int attempt = 1;; ++attempt) {
            tool(pluginkit, {"-a", bundle.url});
            if (isListed(tool(pluginkit, {"-m", "-i", bundle.identifier}).output, bundle.identifier)) break;
            if (attempt == listingAttempts)
                throw RecordsError("pluginkit never listed " + bundle.identifier + " (" + bundle.url + ") after " +
                                   std::to_string(listingAttempts) + " adds over " + std::to_string(listingAttempts) +
                                   " s");
            sleeper.sleepFor(std::chrono::seconds(1));
        }
        outcome.extensions.push_back(bundle.identifier);
    }

    std::string summary = appIdentifier + ": the only record is " + app;
    if (!outcome.extensions.empty()) {
        summary += ", its extensions listed: ";
        for (size_t i = 0; i < outcome.extensions.size(); ++i) summary += (i == 0 ? "" : ", ") + outcome.extensions[i];
    }
    tell(summary);
    return outcome;
}

void claim(std::vector<std::string> apps) {
    claimQueue().async([apps = std::move(apps)] {
        for (const auto& app : apps) {
            try {
                Records records = onlyRecord(app);
                for (const auto& record : records.removed)
                    installLog().info("record removed", [&] { return Log::Fields{{"app", app}, {"record", record}}; });
                installLog().info("the only record", [&] {
                    return Log::Fields{{"app", app},
                                       {"removed", static_cast<int64_t>(records.removed.size())},
                                       {"extensions", records.extensions}};
                });
            } catch (const std::exception& error) {
                installLog().warn("records not claimed", [&] {
                    return Log::Fields{{"app", app}, {"err", std::string(error.what())}};
                });
            }
        }
    });
}

void claimRecords() {
    auto running = bundle();
    if (running && std::holds_alternative<Home::Installed>(homeOf(running).place)) claim({*running});
}

} // namespace AppInstallation
