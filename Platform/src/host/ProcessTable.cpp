#include "Platform/ProcessTable.hpp"
#include "Platform/Files.hpp"
#include "Platform/SimulatedHost.hpp"
#include "Platform/UTF8.hpp"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <dirent.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace Platform::ProcessTable {

namespace {

std::filesystem::path procFile(pid_t pid, const char* name) {
    return std::filesystem::path("/proc") / std::to_string(pid) / name;
}

template <class Integer>
std::optional<Integer> wholeNumber(std::string_view text) {
    Integer value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// The kernel's boot time as it reads now (a stepped clock moves it).
std::optional<int64_t> kernelBootSeconds(const std::filesystem::path& root) {
    auto content = Files::read("/proc/stat");
    auto seconds = content ? bootSeconds(*content) : std::nullopt;
    if (seconds) *seconds += SimulatedHost::readClockStep(root);
    return seconds;
}

// The boot time this boot's first reader recorded, recording the kernel's
// now when the record is of another boot, missing or damaged.
std::optional<int64_t> bootSecondsOfThisBoot() {
    const auto& root = SimulatedHost::root();
    auto id = Files::read("/proc/sys/kernel/random/boot_id");
    if (!id || id->empty()) return kernelBootSeconds(root);
    std::string bootID = UTF8::trimmingWhitespace(*id);
    std::filesystem::path record = root / "boot.json";
    Files::Lock lock(root / "boot.lock");
    if (auto text = Files::read(record)) {
        auto json = nlohmann::json::parse(*text, nullptr, false);
        if (json.is_object() && json.value("bootID", "") == bootID && json.contains("btime") &&
            json["btime"].is_number_integer())
            return json["btime"].get<int64_t>();
    }
    auto seconds = kernelBootSeconds(root);
    if (seconds) Files::writeAtomically(record, nlohmann::json{{"bootID", bootID}, {"btime", *seconds}}.dump() + "\n", 0600);
    return seconds;
}

// Reads once and keeps a success; a failure is asked again next time.
std::optional<int64_t> cachedBootSeconds() {
    static std::optional<int64_t> cached = bootSecondsOfThisBoot();
    if (!cached) return bootSecondsOfThisBoot();
    return cached;
}

} // namespace

std::optional<int64_t> bootSeconds(std::string_view procStat) {
    constexpr std::string_view key = "btime ";
    for (size_t at = 0; at < procStat.size();) {
        size_t end = procStat.find('\n', at);
        if (end == std::string_view::npos) end = procStat.size();
        std::string_view line = procStat.substr(at, end - at);
        if (line.starts_with(key)) {
            line.remove_prefix(key.size());
            while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
            while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
            return wholeNumber<int64_t>(line);
        }
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<Date> bootTime() {
    auto seconds = cachedBootSeconds();
    if (!seconds) return std::nullopt;
    return Date(std::chrono::seconds(*seconds));
}

std::optional<uint64_t> startTicks(std::string_view statLine, pid_t pid) {
    size_t open = statLine.find(" (");
    size_t close = statLine.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return std::nullopt;
    if (wholeNumber<pid_t>(statLine.substr(0, open)) != pid) return std::nullopt;

    // After ") " come the fields from the 3rd (state) on; the start is the 22nd.
    std::string_view rest = statLine.substr(close + 1);
    int field = 2;
    while (!rest.empty()) {
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\n')) rest.remove_prefix(1);
        if (rest.empty()) break;
        size_t end = rest.find_first_of(" \n");
        std::string_view value = rest.substr(0, end);
        if (++field == 22) return wholeNumber<uint64_t>(value);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    return std::nullopt;
}

std::optional<uint64_t> startTicks(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    auto line = Files::read(procFile(pid, "stat"));
    return line ? startTicks(*line, pid) : std::nullopt;
}

std::optional<double> startTime(pid_t pid) {
    auto ticks = startTicks(pid);
    auto boot = cachedBootSeconds();
    long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!ticks || !boot || perSecond <= 0) return std::nullopt;
    return static_cast<double>(*boot) + static_cast<double>(*ticks) / static_cast<double>(perSecond);
}

std::string firstArgumentName(std::string_view cmdline) {
    std::string_view argument = cmdline.substr(0, cmdline.find('\0'));
    // The last path component, trailing slashes ignored ("a/b/" is "b"; "/" stays "/").
    while (argument.size() > 1 && argument.back() == '/') argument.remove_suffix(1);
    if (argument.size() > 1) {
        size_t slash = argument.rfind('/');
        if (slash != std::string_view::npos) argument.remove_prefix(slash + 1);
    }
    return UTF8::repaired(argument);
}

std::optional<std::string> name(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    if (auto cmdline = Files::read(procFile(pid, "cmdline"))) {
        std::string fromArguments = firstArgumentName(*cmdline);
        if (!fromArguments.empty()) return fromArguments;
    }
    auto comm = Files::read(procFile(pid, "comm"));
    if (!comm) return std::nullopt;
    std::string_view command = *comm;
    command = command.substr(0, command.find('\0'));
    if (command.ends_with('\n')) command.remove_suffix(1);
    return UTF8::repaired(command);
}

std::optional<std::vector<pid_t>> processIDs() {
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir("/proc"), ::closedir);
    if (!folder) return std::nullopt;
    std::vector<pid_t> pids;
    while (const dirent* entry = ::readdir(folder.get()))
        if (auto pid = wholeNumber<pid_t>(entry->d_name); pid && *pid > 0) pids.push_back(*pid);
    return pids;
}

std::optional<std::string> executablePath(pid_t pid) {
    std::array<char, 4096> buffer;
    std::string link = procFile(pid, "exe").string();
    ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::nullopt;
    std::string_view path(buffer.data(), static_cast<size_t>(length));
    // The kernel marks an executable removed (or replaced) since the start.
    if (path.ends_with(" (deleted)")) return std::nullopt;
    return SimulatedHost::macPath(std::filesystem::path(path));
}

} // namespace Platform::ProcessTable
