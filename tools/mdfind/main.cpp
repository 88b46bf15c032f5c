// Stand-in for macOS's mdfind on the simulated machine. It answers one
// query, the bundles with an identifier:
//   mdfind "kMDItemCFBundleIdentifier == 'ID'"
// by looking through /Applications, /Volumes and the home (never inside a
// bundle, never through a link, never into hidden folders) and printing each
// match's macOS path on a line of its own. Any other query is refused.

#include <Platform/LaunchServices.hpp>
#include <Platform/SimulatedHost.hpp>

#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view attribute = "kMDItemCFBundleIdentifier";

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The identifier of "kMDItemCFBundleIdentifier == 'ID'" (or "ID" in double
// quotes); nothing for any other query.
std::optional<std::string> identifierIn(std::string_view query) {
    query = trimmed(query);
    if (!query.starts_with(attribute)) return std::nullopt;
    query = trimmed(query.substr(attribute.size()));
    if (!query.starts_with("==")) return std::nullopt;
    query = trimmed(query.substr(2));
    if (query.size() < 2 || (query.front() != '\'' && query.front() != '"') || query.back() != query.front())
        return std::nullopt;
    std::string_view identifier = query.substr(1, query.size() - 2);
    if (identifier.empty() || identifier.find(query.front()) != std::string_view::npos) return std::nullopt;
    return std::string(identifier);
}

} // namespace

int main(int argc, char** argv) {
    auto identifier = argc == 2 ? identifierIn(argv[1]) : std::nullopt;
    if (!identifier) {
        std::cerr << "mdfind: this index answers only the query \"kMDItemCFBundleIdentifier == '<identifier>'\"\n";
        return 64;
    }
    const auto& root = Platform::SimulatedHost::root();
    for (const auto& path : Platform::LaunchServices::bundlesWithIdentifier(*identifier, root))
        std::cout << path << "\n";
    return 0;
}
