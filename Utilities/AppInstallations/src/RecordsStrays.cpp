#include "AppInstallations/AppInstallation.hpp"
#include "AppInstallations/Records.hpp"
#include "RecordsTools.hpp"

#include <Platform/SimulatedHost.hpp>
#include <Platform/User.hpp>

#include <algorithm>
#include <filesystem>
#include <set>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;
using namespace RecordsTools;

void tell(const Said& said, const std::string& line) {
    if (said) said(line);
}

} // namespace

std::vector<std::string> removeStrays(const std::string& of, const Said& said) {
    std::set<std::string> identifiers;
    for (const auto& bundle : carried(of)) identifiers.insert(bundle.identifier);
    std::vector<std::string> kept;
    for (Scope scope : allScopes) kept.push_back(standardized(folder(scope)) + "/");
    kept.push_back(standardized((Platform::homeDirectory() / ".Trash").string()) + "/");

    std::vector<std::string> removed;
    for (const Record& record : dump()) {
        if (!identifiers.contains(record.identifier)) continue;
        std::string path = standardized(record.url);
        if (std::ranges::any_of(kept, [&](const std::string& prefix) { return path.starts_with(prefix); })) continue;
        if (hasExtension(path, "appex")) tool(pluginkit, {"-r", record.url});
        tool(lsregister, {"-u", record.url});
        tell(said, "unregistered " + record.identifier + " at " + record.url);
        removed.push_back(record.url);
    }
    return removed;
}

std::vector<std::string> unregister(const std::string& appsUnder, const Said& said) {
    std::string top = standardized(appsUnder);
    fs::path host = Platform::SimulatedHost::hostPath(top);
    std::vector<std::string> apps;
    std::error_code error;
    // Links are neither followed nor taken for apps: they may lead out of
    // the folder, to copies that are not the folder's to unregister.
    fs::recursive_directory_iterator walk(host, fs::directory_options::skip_permission_denied, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::directory_entry& entry = *walk;
        std::string name = entry.path().filename().string();
        if (name == ".git") {
            walk.disable_recursion_pending();
            continue;
        }
        if (entry.is_symlink(error) || !hasExtension(name, "app")) continue;
        walk.disable_recursion_pending();
        apps.push_back((top == "/" ? "" : top) + "/" + entry.path().lexically_relative(host).string());
    }

    for (const auto& app : apps) {
        for (const auto& bundle : carried(app))
            if (hasExtension(bundle.url, "appex")) tool(pluginkit, {"-r", bundle.url});
        ToolResult result = tool(lsregister, {"-u", app});
        std::string line = "unregistered " + app;
        if (result.status != 0)
            line += " (lsregister said " + std::to_string(result.status) + ": " + oneLine(result.output) + ")";
        tell(said, line);
    }
    return apps;
}

std::vector<std::string> indexedCopies(const std::string& of) {
    // The identifier goes into the query as it is: only a plain one may.
    if (!isPlainIdentifier(of)) {
        installLog().warn("identifier not plain: not searched", [&] { return Log::Fields{{"identifier", of}}; });
        return {};
    }
    ToolResult result = run(mdfind, {"kMDItemCFBundleIdentifier == '" + of + "'"});
    std::vector<std::string> copies;
    size_t start = 0;
    while (start < result.output.size()) {
        size_t end = std::min(result.output.find('\n', start), result.output.size());
        if (end > start) copies.push_back(result.output.substr(start, end - start));
        start = end + 1;
    }
    return copies;
}

} // namespace AppInstallation
