#pragma once

#include <Platform/Clock.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The app's records in the Launch Services database and the extension
// registry: reading them, removing those of stray copies, making the
// installed copy the only one, and finding copies the search index knows.
// Everything goes through the platform's tools (lsregister, pluginkit,
// mdfind). Paths are macOS paths.
namespace AppInstallation {

// One app or extension record in the Launch Services database.
struct Record {
    std::string url; // the bundle's path
    std::string identifier;
    bool operator==(const Record&) const = default;
};

// One bundle the app ships: the app itself, or an app or app extension in it.
struct Carried {
    std::string url;
    std::string identifier;
    bool operator==(const Carried&) const = default;
};

// What onlyRecord did: stray records removed, extensions confirmed listed.
struct Records {
    std::vector<std::string> removed;
    std::vector<std::string> extensions;
    bool operator==(const Records&) const = default;
};

// A failure of the records' work; what() is the message for people.
class RecordsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Receives one line of text per action taken.
using Said = std::function<void(const std::string&)>;

// The app at `by` (when it has an identifier), then every app and app
// extension below its Contents, depth first, links not followed.
std::vector<Carried> carried(const std::string& by);

// The records of `lsregister -dump`. Throws RecordsError.
std::vector<Record> dump();
// The records in a dump's output.
std::vector<Record> parseDump(std::string_view output);

// Makes the installed copy at `installed` the only registered one and makes
// sure its extensions are listed. Throws RecordsError.
Records onlyRecord(const std::string& installed, const Said& said = {});
// The same, waiting between attempts to get an extension listed on `sleeper`.
Records onlyRecord(const std::string& installed, const Said& said, Platform::Sleeper& sleeper);

// onlyRecord for each app in turn on a background queue; failures are
// logged. Returns at once.
void claim(std::vector<std::string> apps);

// claim([bundle]) when the running app is installed; otherwise nothing.
void claimRecords();

// Removes the records of this app's bundles outside the Applications folders
// and the Trash; answers the removed records' paths. Throws RecordsError.
std::vector<std::string> removeStrays(const std::string& of, const Said& said = {});

// Unregisters every app below `appsUnder` (never inside ".git"); answers the
// apps found.
std::vector<std::string> unregister(const std::string& appsUnder, const Said& said = {});

// Copies of the app with identifier `of` that the search index knows. An
// identifier that is not plain (isPlainIdentifier) never reaches the query:
// a warning, and no copies.
std::vector<std::string> indexedCopies(const std::string& of);

} // namespace AppInstallation
