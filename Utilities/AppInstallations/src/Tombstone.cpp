#include "AppInstallations/AppInstallation.hpp"
#include "AppInstallations/Settlement.hpp"

#include <Platform/DateRange.hpp>
#include <Platform/Files.hpp>
#include <Platform/ISODate.hpp>
#include <Platform/SimulatedHost.hpp>
#include <Platform/UTF8.hpp>
#include <Platform/User.hpp>
#include <Platform/UserDefaults.hpp>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AppInstallation::Tombstone {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr const char* appliedKey = "AppInstallations.tombstoneApplied";
constexpr const char* place = "Library/Application Support/AppInstallations";
// A date takes 20 bytes; a file much longer than that holds no tombstone.
constexpr size_t largestFile = 256;

bool plain(const std::string& bundleID) {
    if (isPlainIdentifier(bundleID)) return true;
    installLog().warn("a bundle identifier that cannot name a file: tombstone skipped", [&] {
        return Log::Fields{{"identifier", bundleID}};
    });
    return false;
}

std::string fileOf(const std::string& bundleID, bool system) { return folder(system) + "/" + bundleID + ".deleted"; }

// Serialises the check-and-remove of applied() with the writers of the
// folder, so a tombstone written meanwhile is never taken for the old one.
fs::path lockOf(const std::string& folderPath) { return Platform::SimulatedHost::hostPath(folderPath + "/.lock"); }

// The date in the tombstone at the macOS path; none when it is missing,
// no regular file, unreadable or unparsable. Never blocks on a FIFO.
std::optional<Platform::Date> readDate(const std::string& path) {
    int fd = ::open(Platform::SimulatedHost::hostPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content(largestFile + 1, '\0');
    size_t filled = 0;
    struct stat info {};
    bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    while (regular && filled < content.size()) {
        ssize_t count = ::read(fd, content.data() + filled, content.size() - filled);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        filled += static_cast<size_t>(count);
    }
    ::close(fd);
    if (!regular || filled > largestFile) return std::nullopt;
    content.resize(filled);
    return parse(content);
}

std::optional<Platform::Date> appliedDate(const std::string& bundleID) {
    auto stored = Platform::UserDefaults::read(bundleID, appliedKey);
    if (!stored) return std::nullopt;
    if (const auto* date = stored->as<Platform::Date>()) return *date;
    return std::nullopt;
}

// The digits at `at` as a number, exactly `count` of them.
std::optional<int> digits(std::string_view text, size_t at, size_t count) {
    if (at + count > text.size()) return std::nullopt;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

} // namespace

std::string folder(bool system) {
    if (system) return std::string("/") + place;
    std::string home = Platform::homeDirectory().string();
    if (!home.ends_with('/')) home += '/';
    return home + place;
}

std::optional<Platform::Date> parse(std::string_view content) {
    std::string text = Platform::UTF8::trimmingWhitespace(content);
    // YYYY-MM-DDTHH:MM:SS, then Z or ±HH:MM.
    auto y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    auto h = digits(text, 11, 2), mi = digits(text, 14, 2), s = digits(text, 17, 2);
    if (!y || !mo || !d || !h || !mi || !s || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    if (!Platform::DateRange::containsYear(*y) || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;
    year_month_day calendar{year{*y}, month{static_cast<unsigned>(*mo)}, day{static_cast<unsigned>(*d)}};
    if (!calendar.ok()) return std::nullopt;
    minutes offset{0};
    std::string_view zone = std::string_view(text).substr(19);
    if (zone != "Z") {
        auto oh = digits(zone, 1, 2), om = digits(zone, 4, 2);
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || !oh || !om || *oh > 23 ||
            *om > 59)
            return std::nullopt;
        offset = hours{*oh} + minutes{*om};
        if (zone[0] == '-') offset = -offset;
    }
    sys_seconds moment = sys_days{calendar} + hours{*h} + minutes{*mi} + seconds{*s} - offset;
    return Platform::Date(moment);
}

std::optional<Platform::Date> pending(const std::string& bundleID) {
    if (!plain(bundleID)) return std::nullopt;
    std::optional<Platform::Date> latest;
    for (bool system : {false, true})
        if (auto date = readDate(fileOf(bundleID, system)); date && (!latest || *date > *latest)) latest = date;
    if (!latest) return std::nullopt;
    if (auto applied = appliedDate(bundleID); applied && *latest <= *applied) return std::nullopt;
    return latest;
}

void applied(const std::string& bundleID, Platform::Date date) {
    if (!plain(bundleID)) return;
    if (!Platform::UserDefaults::write(bundleID, appliedKey, Platform::PropertyValue(date)))
        installLog().warn("could not remember the applied tombstone", [&] {
            return Log::Fields{{"identifier", bundleID}};
        });
    std::string path = fileOf(bundleID, false);
    std::error_code error;
    if (fs::exists(fs::symlink_status(Platform::SimulatedHost::hostPath(path), error))) {
        Platform::Files::Lock lock(lockOf(folder(false)));
        // One written since it was read is a newer deletion: it stays for
        // the next copy. The system's tombstone is never removed here.
        if (auto written = readDate(path); written && *written <= date)
            fs::remove(Platform::SimulatedHost::hostPath(path), error);
    }
    installLog().info("tombstone applied", [&] { return Log::Fields{{"deleted", Platform::ISODate::format(date)}}; });
}

void write(const std::string& bundleID) {
    if (!plain(bundleID)) return;
    bool system = Platform::SimulatedHost::runsAsRoot();
    std::string path = fileOf(bundleID, system);
    std::error_code error = Platform::Files::createDirectories(Platform::SimulatedHost::hostPath(folder(system)));
    if (!error) {
        Platform::Files::Lock lock(lockOf(folder(system)));
        error = Platform::Files::writeAtomically(Platform::SimulatedHost::hostPath(path),
                                                 Platform::ISODate::format(Platform::hostClock().now()));
    }
    if (error)
        installLog().warn("could not write the tombstone", [&] {
            return Log::Fields{{"path", path}, {"err", error.message()}};
        });
    else
        installLog().info("tombstone written", [&] { return Log::Fields{{"path", path}}; });
}

} // namespace AppInstallation::Tombstone
