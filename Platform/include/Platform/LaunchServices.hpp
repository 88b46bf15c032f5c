#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The simulated Mac's database of application and extension bundles, and the
// extension registry beside it: what lsregister, pluginkit and mdfind answer
// from. Kept in launchservices/ under the simulation root, read and replaced
// whole under launchservices/lock. Paths are macOS paths.
namespace Platform::LaunchServices {

enum class Kind { app, appex };

// One bundle the database knows.
struct Record {
    std::string path;
    std::string identifier;
    Kind kind = Kind::app;
    std::string name;
    std::string version;
    uint64_t unit = 0; // the database's number for it, shown in the dump
    bool operator==(const Record&) const = default;
};

// One extension added to the extension registry.
struct Extension {
    std::string path;
    std::string identifier;
    std::string version;
    int64_t addedAt = 0; // wall clock, milliseconds since the epoch
    bool operator==(const Extension&) const = default;
};

// The records, in registration order; a damaged file reads as none.
std::vector<Record> records(const std::filesystem::path& root);

// Registers the .app or .appex at `path` and every app and extension bundle
// it carries below Contents (depth first, symbolic links never followed).
// A bundle registered before keeps its place and number. Answers the
// problem, for a tool to print: "<path>: No such file or directory" or
// "<path>: not a bundle with an identifier".
std::optional<std::string> registerBundle(std::string_view path, const std::filesystem::path& root);

// Forgets the record at `path` and those of the bundles inside it; false
// when there was none.
bool unregisterBundle(std::string_view path, const std::filesystem::path& root);

// The dump of the database as lsregister prints it: a header block, then a
// block per record, each opened by a line of dashes, the last one left
// unclosed.
std::string dumpText(const std::vector<Record>& records);

// Adds the extension bundle at `path` to the extension registry; one added
// before keeps its time of adding. Answers the problem, as registerBundle.
std::optional<std::string> addExtension(std::string_view path, const std::filesystem::path& root);

// Takes the extension at `path` out of the registry; false when it was not in.
bool removeExtension(std::string_view path, const std::filesystem::path& root);

// The added extensions whose identifier begins with `identifier` (the
// registry matches as loosely as that) and whose listing delay has passed
// (simulated seconds, at the machine's time rate), in the order added.
std::vector<Extension> listedExtensions(std::string_view identifier, const std::filesystem::path& root);

// How many simulated seconds pass between adding an extension and its being
// listed; 0 on a fresh machine.
double extensionDelay(const std::filesystem::path& root);
bool setExtensionDelay(double seconds, const std::filesystem::path& root);

// The bundles below /Applications, /Volumes and the home whose identifier is
// `identifier`: never inside a bundle, never through a symbolic link, never
// into hidden folders. macOS paths, in name order.
std::vector<std::string> bundlesWithIdentifier(std::string_view identifier, const std::filesystem::path& root);

} // namespace Platform::LaunchServices
