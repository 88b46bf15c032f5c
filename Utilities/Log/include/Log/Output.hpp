#pragma once

#include <Log/Event.hpp>
#include <Log/Settings.hpp>
#include <Log/Writer.hpp>

#include <string_view>

// Where events leave the process. One output lock orders every emission,
// so lines on standard error, in the record file and in a shipped batch
// keep one global order and never interleave. Any thread.
namespace Log {

// Sends an event to the sinks its reach names, in this order: a line on
// standard error (human or JSON) and shipping for the output bit, the
// system log and the record file for the record bit. The JSON line is built
// once, and only when a sink needs it. The module's own trouble (a record
// file it cannot write, a line too large to ship) is reported once per
// process through recordLog() and shipLog(), after the lock is released.
void emit(const Event& event, Reach reach);

// Sends the pending batch and waits until every post has completed,
// repeating while new batches appear. Returns at once when nothing was ever
// shipped. Registered with atexit by the first shipped line.
void flushLog();

// Posts the pending batch now without waiting for it (a top-level span's
// end does this).
void sendPendingBatch();

// Writes all of `text`, retrying interrupted and short writes; any other
// error ends the attempt silently (a closed standard error loses the line).
void writeAll(int fd, std::string_view text);

// Whether human lines on `fd` are coloured: FORCE_COLOR, NO_COLOR and TERM
// decide when they say anything, else whether `fd` is a terminal (for
// standard error, as remembered at the first question).
bool color(int fd);

// The logging module's own writers, for its warnings about the record
// file and about shipping.
const LogWriter& recordLog();
const LogWriter& shipLog();

} // namespace Log
