#pragma once

#include "AppInstallations/System.hpp"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Where the running application lives (its installation home), in words for
// people, and the small operations the installation layer shares: the app's
// bundle, its display name, its signer's name, reopening it, and the
// installation switches in its arguments. Paths are macOS paths. Nothing is
// kept: every answer is worked out afresh from the running executable and the
// file system.
namespace AppInstallation {

// Where an app may be installed.
enum class Scope { everyone, me };
inline constexpr std::array<Scope, 2> allScopes{Scope::everyone, Scope::me};

// "/Applications", or ~/Applications.
std::string folder(Scope scope);
// "For Everyone on This Mac", "Just for Me".
std::string words(Scope scope);

struct Home {
    enum class Origin { diskImage, translocated, folder };
    struct Installed {
        Scope scope;
        bool operator==(const Installed&) const = default;
    };
    struct Elsewhere {
        std::string bundle;
        Origin origin;
        bool operator==(const Elsewhere&) const = default;
    };
    struct NoBundle {
        bool operator==(const NoBundle&) const = default;
    };

    std::variant<Installed, Elsewhere, NoBundle> place;

    // "Applications", "your own Applications folder", "the disk image",
    // "a copy macOS made of the download", the holding folder with the home
    // as "~", or "a bare build, outside any app".
    std::string words() const;
    bool operator==(const Home&) const = default;
};

// The switches the installation layer launches the app with; each is
// followed by one value.
inline constexpr std::array<std::string_view, 3> installationSwitches{
    "--app-installation-turn-on", "--app-installation-stale", "--app-installation-forget"};

// The .app bundle around the running executable (links resolved).
std::optional<std::string> bundle();

// The outermost .app bundle on `path`: the path up to and including the
// first component, from the root, that ends in ".app".
std::optional<std::string> app(const std::string& around);

// Where the running app lives.
Home home();
// Where an app whose bundle is at `bundle` lives.
Home homeOf(const std::optional<std::string>& bundle);

// Another copy of this app in one of the scopes' folders (tried in the order
// given), never the running copy itself.
std::optional<std::string> installedCopy(const std::vector<Scope>& in);

// CFBundleDisplayName, else CFBundleName, else the process's name.
std::string displayName();

// The common name of whoever signed the running code; nothing for unsigned
// or ad hoc code.
std::optional<std::string> signerName();
// The common name in a certificate subject summary:
// "Developer ID Application: Example Maker (AB12CD34EF)" gives "Example Maker".
std::string signerNameOf(const std::string& subjectSummary);

// Starts a fresh instance of this app and quits this one; when the new one
// cannot be started, logs "reopen failed" and keeps running.
void reopen(const std::string& why);

// The arguments without the installation switches and their values.
std::vector<std::string> appArguments(const std::vector<std::string>& arguments);
bool isInstallationLaunch(const std::vector<std::string>& arguments);

// A bundle identifier or job label safe to use as a path part and in a
// search query: letters, digits, "." and "-" only, not empty and not
// starting with "." (so never "." or "..").
bool isPlainIdentifier(std::string_view text);

} // namespace AppInstallation
