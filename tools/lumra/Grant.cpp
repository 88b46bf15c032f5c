#include "Grant.hpp"

#include "Sudoers.hpp"

#include <Platform/Credentials.hpp>
#include <Platform/Files.hpp>
#include <Platform/SimulatedHost.hpp>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Client::Grant {

namespace {

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

// sudoers reads a name of capitals, digits and '_' that starts with a
// capital as an alias, which could stand for anyone.
bool readsAsAlias(std::string_view user) {
    if (user.empty() || user.front() < 'A' || user.front() > 'Z') return false;
    for (char c : user)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

std::string systemError(std::string_view what, int error) { return std::string(what) + ": " + std::strerror(error); }

// Removes the temporary file on every way out but success.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::filesystem::path& path() const { return path_; }
    void keep() { path_.clear(); }

private:
    std::filesystem::path path_;
};

// Writes the whole text and its mode, and flushes it to the disk: a drop-in
// left empty by a crash would make sudo refuse the flag.
std::optional<std::string> writeOut(int fd, std::string_view text) {
    if (!Platform::Files::writeAll(fd, text)) return systemError("cannot write the drop-in", errno);
    if (::fchmod(fd, 0440) != 0) return systemError("cannot set the drop-in's mode", errno);
    if (::fsync(fd) != 0) return systemError("cannot flush the drop-in", errno);
    return std::nullopt;
}

// What the open file holds now, read from its start through the descriptor
// that wrote it: the very file that will be renamed into place.
std::optional<std::string> readBack(int fd) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) return text;
        text.append(buffer, static_cast<size_t>(got));
    }
}

std::optional<std::string> syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return systemError("cannot open " + folder.string(), errno);
    int synced = ::fsync(fd);
    int error = errno;
    ::close(fd);
    if (synced != 0) return systemError("cannot flush " + folder.string(), error);
    return std::nullopt;
}

bool isInPlace(const std::filesystem::path& file, std::string_view text, const Ownership& ownership) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || (info.st_mode & 07777) != 0440) return false;
    auto current = Platform::Files::read(file);
    return current && *current == text && ownership.ownedByRoot(file);
}

} // namespace

std::optional<std::string> unsafeUserName(std::string_view user) {
    if (user.empty()) return "the user name is empty";
    for (char c : user)
        if (!isNameCharacter(c))
            return "the user name holds characters a sudoers rule cannot carry safely (only letters, digits, '_', "
                   "'-' and '.' can be granted)";
    if (user.front() == '-' || user.front() == '.')
        return "the user name starts with '" + std::string(1, user.front()) + "'";
    if (user == "ALL" || user == "Defaults" || readsAsAlias(user))
        return "sudoers would read the user name " + std::string(user) + " as a keyword or an alias";
    return std::nullopt;
}

const Ownership& machineOwnership() {
    static const Ownership ownership{
        [](const std::filesystem::path& file) {
            return Platform::Credentials::changeOwner(file, {0, 0}, Platform::SimulatedHost::root());
        },
        [](const std::filesystem::path& file) {
            auto owner = Platform::Credentials::ownerOf(file, Platform::SimulatedHost::root());
            return owner && owner->uid == 0;
        },
    };
    return ownership;
}

std::string rule(std::string_view user) {
    return std::string(user) + " ALL=(root) NOPASSWD: " + std::string(flagOff) + ", " + std::string(flagOn) + "\n";
}

std::optional<std::string> check(std::string_view text, std::string_view user) {
    auto rules = Sudo::parse(text);
    if (!rules) return "sudoers cannot parse the drop-in";
    const std::vector<std::vector<std::string>> granted{{"/usr/bin/pmset", "-a", "disablesleep", "0"},
                                                        {"/usr/bin/pmset", "-a", "disablesleep", "1"}};
    bool exact = rules->size() == 1 && rules->front().users == std::vector<std::string>{std::string(user)} &&
                 rules->front().host == "ALL" && rules->front().runAs == std::vector<std::string>{"root"} && rules->front().noPassword &&
                 !rules->front().anyCommand && rules->front().commands == granted;
    if (!exact) return "sudoers reads the drop-in as a different grant than intended";
    return std::nullopt;
}

LumraKit::Result<Installed, Refused> install(const std::filesystem::path& file, std::string_view user,
                                             const Checker& checker, const Ownership& ownership) {
    if (auto unsafe = unsafeUserName(user)) return Refused{"cannot grant \"" + std::string(user) + "\": " + *unsafe};
    std::string text = rule(user);
    if (isInPlace(file, text, ownership)) return Installed{std::string(user), true};

    std::filesystem::path folder = file.parent_path();
    if (auto error = Platform::Files::createDirectories(folder))
        return Refused{"cannot create " + folder.string() + ": " + error.message()};

    // A name with a dot: sudo skips such files, so it never reads a half-made
    // drop-in.
    std::string pattern = (folder / (file.filename().string() + ".new.XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return Refused{systemError("cannot create a file in " + folder.string(), errno)};
    TemporaryFile temporary(name.data());

    auto failed = writeOut(fd, text);
    // Check what landed on the disk, as sudo will read it.
    std::optional<std::string> written;
    if (!failed) written = readBack(fd);
    if (::close(fd) != 0 && !failed) failed = systemError("cannot write the drop-in", errno);
    if (failed) return Refused{*failed};
    if (!written) return Refused{"cannot read the drop-in back"};
    if (auto problem = checker(*written, user)) return Refused{*problem + "; nothing was changed"};
    // sudo ignores a drop-in that is not root's.
    if (!ownership.giveToRoot(temporary.path())) return Refused{"cannot give the drop-in to root"};

    if (::rename(temporary.path().c_str(), file.c_str()) != 0)
        return Refused{systemError("cannot put the drop-in in place at " + file.string(), errno)};
    temporary.keep();
    if (auto unsynced = syncFolder(folder)) return Refused{*unsynced + " (the drop-in is in place)"};
    return Installed{std::string(user)};
}

} // namespace Client::Grant
