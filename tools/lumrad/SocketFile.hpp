#pragma once

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace Lumrad {

// The socket file this service bound, told apart from one that a newer
// service bound at the same path since (the new one removes the old file
// before binding), so that stopping never takes away a successor's socket.
class SocketFile {
public:
    // Remembers the file now at `path`; none there is remembered as none.
    explicit SocketFile(std::filesystem::path path);

    // Removes the file when it is still the one remembered.
    void removeIfStillOurs() const;

    const std::filesystem::path& path() const { return path_; }

private:
    // An inode number freed by the old file may go to the new one; the
    // change time tells them apart.
    struct Identity {
        dev_t device;
        ino_t inode;
        time_t changed;
        long changedNanoseconds;
        friend bool operator==(const Identity&, const Identity&) = default;
    };
    static std::optional<Identity> identify(const std::filesystem::path& path);

    std::filesystem::path path_;
    std::optional<Identity> identity_;
};

} // namespace Lumrad
