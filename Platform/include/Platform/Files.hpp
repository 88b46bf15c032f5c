#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include <sys/types.h>

namespace Platform::Files {

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> read(const std::filesystem::path& path);

// Replaces the file whole: the content goes to a temporary file beside it,
// which is then renamed over the target, so a reader in another process, or
// the next start after the writer was killed, sees the old or the new
// complete file, never a part. There is no fsync: it would cost more than the
// rest of a notifier run, and rename-over replacement already keeps ext4 from
// exposing an empty file after a crash. On failure the target is untouched
// and the temporary file removed.
std::error_code writeAtomically(const std::filesystem::path& path, std::string_view contents, mode_t mode = 0644);

// Appends the text in a single write, creating the file with `mode` when
// missing, so lines appended by several processes never interleave.
std::error_code append(const std::filesystem::path& path, std::string_view text, mode_t mode = 0644);

// Writes every byte to an open descriptor, resuming after interruptions and
// short writes; false (errno kept) when a write fails or makes no progress.
bool writeAll(int fd, std::string_view data);

// A path as the caller of a command-line tool meant it: a relative one is
// taken from the working directory (and "." and ".." worked out).
std::string absolutePath(const std::string& path);

// Creates the directory with every missing parent; an existing one is fine.
// The directory itself, when made here, gets `mode` (parents the usual one).
std::error_code createDirectories(const std::filesystem::path& path, mode_t mode = 0777);

// Takes group and other permissions away from the folder and from the
// regular files directly inside it (symbolic links are not followed).
// Something that cannot be changed is skipped; the first error is returned.
std::error_code makePrivate(const std::filesystem::path& folder);

// Holds an exclusive flock on `path` (created when missing, with its folder)
// while it lives, so read-modify-writes of several processes never overwrite
// each other. Readers of whole-replaced files need no lock.
class Lock {
public:
    explicit Lock(const std::filesystem::path& path);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int fd_ = -1;
};

} // namespace Platform::Files
