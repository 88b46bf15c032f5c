#include "Log/Output.hpp"

#include "Emission.hpp"
#include "Log/Human.hpp"
#include "Log/RecordFile.hpp"
#include "Log/Ship.hpp"
#include "ProcessShipper.hpp"
#include "SystemLogSink.hpp"

#include <Terminal/ANSI.hpp>

#include <cerrno>
#include <mutex>

#include <unistd.h>

namespace Log {

namespace {

// Everything behind the output lock. Never destroyed, so that threads still
// logging while the process exits find it intact; nothing closes the record
// file at exit.
struct Output {
    std::mutex lock;
    Human human;
    int fd = STDERR_FILENO;
    RecordFile recordFile;
    // The JSON line of the event being emitted; its room is kept from one
    // event to the next.
    std::string line;
};

Output& output() {
    static Output* instance = new Output;
    return *instance;
}

// What went wrong inside the lock, reported after it is released so that
// the warnings can take it themselves.
struct Trouble {
    std::optional<size_t> tooLargeToShip;
    std::optional<std::string> recordPath;
    int recordError = 0;
};

} // namespace

void emit(const Event& event, Reach reach) {
    if (reach.empty()) return;
    detail::emit(event, reach, detail::EventSettings({}));
}

void detail::emit(const Event& event, Reach reach, const EventSettings& settings) {
    if (reach.empty()) return;
    Format form = settings.format();
    bool clock = settings.timeOn();
    bool toOutput = reach.contains(Reach::output);
    bool toRecord = reach.contains(Reach::record);
    Trouble trouble;
    {
        Output& out = output();
        std::lock_guard hold(out.lock);
        std::optional<std::string> url;
        if (toOutput) url = settings.shipURL();
        std::string& json = out.line;
        json.clear();
        if (toRecord || form == Format::json || url) {
            json.reserve(256);
            event.appendJSON(json);
        }
        std::optional<std::string> path;
        if (toRecord) path = settings.recordFile();

        // The line feed is added for the writes and taken off again for
        // the system log and shipping, which take the bare line.
        if (toOutput) {
            if (form == Format::json) {
                json += '\n';
                writeAll(out.fd, json);
                json.pop_back();
            } else {
                writeAll(out.fd, out.human.render(event, clock, color(out.fd)));
            }
        }
        if (toRecord) {
            if (settings.osLogOn()) detail::writeSystemLog(event, json);
            if (path) {
                json += '\n';
                if (auto error = out.recordFile.append(json, *path)) {
                    trouble.recordPath = std::move(path);
                    trouble.recordError = *error;
                }
                json.pop_back();
            }
        }
        if (url && !detail::shipLine(*url, json)) trouble.tooLargeToShip = json.size();
        // One huge event does not keep its room for the life of the process.
        if (json.capacity() > largestShippableLine) std::string().swap(json);
    }
    if (trouble.tooLargeToShip) {
        shipLog().warnOnce("event too large to ship", [&] {
            return Fields{{"bytes", *trouble.tooLargeToShip}, {"limit", largestShippableLine}};
        });
    }
    if (trouble.recordPath) {
        recordLog().warnOnce("record file not written",
                             [&] { return Fields{{"errno", trouble.recordError}, {"file", *trouble.recordPath}}; });
    }
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (written == 0) return;
        text.remove_prefix(static_cast<size_t>(written));
    }
}

bool color(int fd) {
    if (auto asked = Terminal::ANSI::colorAsked()) return *asked;
    if (fd == STDERR_FILENO) return standardErrorIsTerminal();
    return ::isatty(fd) == 1;
}

const LogWriter& recordLog() {
    static const LogWriter* writer = new LogWriter(log.scope("record"));
    return *writer;
}

const LogWriter& shipLog() {
    static const LogWriter* writer = new LogWriter(log.scope("ship"));
    return *writer;
}

} // namespace Log
