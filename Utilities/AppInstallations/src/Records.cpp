#include "AppInstallations/Records.hpp"
#include "AppInstallations/System.hpp"
#include "RecordsTools.hpp"

#include <Platform/MainBundle.hpp>
#include <Platform/SimulatedHost.hpp>

#include <filesystem>

namespace AppInstallation {

namespace RecordsTools {

bool hasExtension(std::string_view path, std::string_view extension) {
    return std::filesystem::path(path).extension().string() == "." + std::string(extension);
}

std::string oneLine(std::string output) {
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

} // namespace RecordsTools

namespace {

namespace fs = std::filesystem;

std::optional<std::string> identifierOf(const fs::path& bundle) {
    auto info = Platform::readBundleInfo(bundle);
    if (!info) return std::nullopt;
    return Platform::textValue(*info, "CFBundleIdentifier");
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

} // namespace

std::vector<Carried> carried(const std::string& by) {
    std::vector<Carried> found;
    std::string path = RecordsTools::standardized(by);
    fs::path app = Platform::SimulatedHost::hostPath(path);
    if (auto identifier = identifierOf(app)) found.push_back({path, *identifier});
    // A link inside a bundle may lead anywhere: neither followed nor read.
    fs::path contents = app / "Contents";
    std::error_code error;
    if (fs::is_symlink(contents, error)) return found;
    fs::recursive_directory_iterator walk(contents, fs::directory_options::skip_permission_denied, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::directory_entry& entry = *walk;
        std::string name = entry.path().filename().string();
        if (entry.is_symlink(error) ||
            !(RecordsTools::hasExtension(name, "app") || RecordsTools::hasExtension(name, "appex")))
            continue;
        if (auto identifier = identifierOf(entry.path()))
            found.push_back({path + "/Contents/" + entry.path().lexically_relative(contents).string(), *identifier});
    }
    return found;
}

std::vector<Record> dump() {
    ToolResult result = tool(RecordsTools::lsregister, {"-dump"});
    if (result.status != 0) throw RecordsError("lsregister -dump exited " + std::to_string(result.status));
    return parseDump(result.output);
}

std::vector<Record> parseDump(std::string_view output) {
    std::vector<Record> records;
    std::string path, identifier;
    auto close = [&] {
        if (!path.empty() && !identifier.empty()) records.push_back({path, identifier});
        path.clear();
        identifier.clear();
    };
    constexpr std::string_view pathKey = "path:", identifierKey = "identifier:", suffix = " (0x";
    size_t start = 0;
    while (start <= output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string_view::npos) end = output.size();
        std::string_view line = output.substr(start, end - start);
        start = end + 1;
        if (line.starts_with("-----")) {
            close();
        } else if (line.starts_with(pathKey)) {
            std::string_view value = trimmed(line.substr(pathKey.size()));
            if (size_t cut = value.rfind(suffix); cut != std::string_view::npos) value = value.substr(0, cut);
            path = value;
        } else if (line.starts_with(identifierKey) && identifier.empty()) {
            identifier = trimmed(line.substr(identifierKey.size()));
        }
    }
    close();
    return records;
}

} // namespace AppInstallation
