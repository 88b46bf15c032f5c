#pragma once

#include <filesystem>

// Where log lines go while the window covers the terminal: every program of
// the app writes its log lines (and anything else) to standard error, which
// would scribble over the screen, so the window hands standard error to a
// file first.
namespace LumraApp {

// app.log in the service's log folder (~/Library/Logs/lumra).
std::filesystem::path windowLogFile();

// Standard error appends to `file` from now on, for the rest of the
// process; its folder is made private (0700) and the file the user's alone
// (0600). False, with standard error left where it was, when the file
// cannot be opened. Call before the first log line: the log decides once
// whether standard error is a terminal.
bool sendLogLinesTo(const std::filesystem::path& file);

} // namespace LumraApp
