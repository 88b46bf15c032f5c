#pragma once

#include <string>
#include <vector>

namespace Client {

// Runs `command` (found on PATH when it has no '/') as lumra's own child in
// the foreground: the same standard streams, terminal and process group, so
// a Ctrl-C typed at the terminal reaches it directly. While it runs, lumra
// ignores SIGINT and SIGQUIT (the command decides what they mean) and passes
// SIGTERM and SIGHUP on to it. Answers its exit status, 128 + the signal
// that ended it, or, having said why on standard error, 127 when it cannot
// be found and 126 when it cannot run.
int runInForeground(const std::vector<std::string>& command);

} // namespace Client
