#include "AppInstallations/BundleCopy.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <system_error>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;

std::string systemText(int error) { return std::generic_category().message(error); }

// Removes the hidden copy and answers the error that ended it.
std::string abandon(const fs::path& hidden, std::string why) {
    std::error_code ignored;
    fs::remove_all(hidden, ignored);
    return why;
}

} // namespace

std::optional<std::string> copyBundle(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::file_status source = fs::status(from, error);
    if (error) return error.message();
    if (!fs::is_directory(source)) return systemText(ENOTDIR);
    if (fs::exists(fs::symlink_status(to, error))) return systemText(EEXIST);

    // A dot name keeps a half-made copy out of Finder's and everyone's way,
    // and a name of its own keeps two moves at once apart.
    std::string pattern = (to.parent_path() / ("." + to.filename().string() + ".XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) return systemText(errno);
    fs::path hidden = pattern;

    fs::copy(from, hidden, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) return abandon(hidden, error.message());
    // mkdtemp made the folder private; the copy takes the bundle's mode.
    fs::permissions(hidden, source.permissions(), error);
    if (error) return abandon(hidden, error.message());
    // rename() would replace an empty folder someone made meanwhile.
    if (::renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0)
        return abandon(hidden, systemText(errno));
    return std::nullopt;
}

} // namespace AppInstallation
