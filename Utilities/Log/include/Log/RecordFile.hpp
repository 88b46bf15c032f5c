#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace Log {

// The record file: JSON lines appended to a path, with one-step rotation past
// 4 MiB. The descriptor stays open between appends; one lstat per append tells
// whether the path still names the open file, and a file that was moved,
// replaced or deleted is reopened (so a symbolic link, whose own identity never
// matches the file behind it, is reopened every time and never rotated).
// Not locked: the caller (emit, under the output lock) serialises calls.
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile();                       // closes the descriptor
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Absent when the whole text was written; else the system error number of
    // the failure (EIO for a short write without one). Each line is one write
    // call, so lines appended by several processes never interleave; a failed
    // append is tried afresh (reopening) the next time.
    std::optional<int> append(std::string_view text, const std::string& path);

    // events.jsonl -> events.1.jsonl; no extension -> path + ".1". The
    // extension is what follows the last dot of the last path component, unless
    // that dot starts the component (.events -> .events.1) or ends it.
    static std::string previousName(std::string_view path);

    // Files larger than this after a write are rotated.
    static constexpr off_t rotationSize = 4194304;

private:
    void reopen(const std::string& path);
    bool pathNamesOpenFile(const std::string& path) const;

    std::optional<std::string> path_;
    int fd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    bool stale_ = true;
    int openError_ = 0; // why the last reopen left no descriptor
};

} // namespace Log
