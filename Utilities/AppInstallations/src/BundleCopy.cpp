#include "AppInstallations/BundleCopy.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace AppInstallation {

namespace {

namespace fs = std::filesystem;

constexpr size_t uniquePart = 6; // mkdtemp's XXXXXX

std::string systemText(int error) { return std::generic_category().message(error); }

// An open folder, locked while a copy is made in it: a lock nobody holds
// marks a copy whose maker was killed.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool take(bool waiting) { return fd_ >= 0 && ::flock(fd_, waiting ? LOCK_EX : LOCK_EX | LOCK_NB) == 0; }

private:
    int fd_;
};

std::string hiddenPrefix(const fs::path& to) { return "." + to.filename().string() + "."; }

// Removes the hidden copies of moves that were killed half-way, which
// nobody else would ever find; a copy still being made keeps its lock.
void sweepAbandoned(const fs::path& to) {
    std::string prefix = hiddenPrefix(to);
    std::error_code error;
    std::vector<fs::path> abandoned;
    fs::directory_iterator listing(to.parent_path(), error);
    for (; !error && listing != fs::directory_iterator(); listing.increment(error)) {
        std::string name = listing->path().filename().string();
        if (name.size() != prefix.size() + uniquePart || !name.starts_with(prefix)) continue;
        if (!listing->is_directory(error) || listing->is_symlink(error)) continue;
        FolderLock lock(listing->path());
        if (lock.take(false)) abandoned.push_back(listing->path());
    }
    for (const fs::path& path : abandoned) fs::remove_all(path, error);
}

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
    sweepAbandoned(to);

    // A dot name keeps a half-made copy out of Finder's and everyone's way,
    // and a name of its own keeps two moves at once apart.
    std::string pattern = (to.parent_path() / (hiddenPrefix(to) + std::string(uniquePart, 'X'))).string();
    if (::mkdtemp(pattern.data()) == nullptr) return systemText(errno);
    fs::path hidden = pattern;
    FolderLock lock(hidden);
    if (!lock.take(true)) return abandon(hidden, systemText(errno));

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
