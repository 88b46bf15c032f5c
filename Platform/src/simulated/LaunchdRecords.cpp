#include "LaunchdRecords.hpp"

#include "Platform/Files.hpp"
#include "Platform/ProcessTable.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <limits>

namespace Platform::Launchd::Records {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Room for ".json" and ".log" within a file name.
constexpr size_t longestLabel = 240;

json encode(const std::optional<Process>& process) {
    if (!process) return nullptr;
    return {{"pid", process->pid}, {"started", process->started}};
}

// The value at `key` of an object; null when it has none. Records come
// from files anyone may edit: every type is checked before use.
const json& field(const json& object, const char* key) {
    static const json none;
    auto found = object.find(key);
    return found == object.end() ? none : *found;
}

std::optional<Process> decodeProcess(const json& value) {
    if (!value.is_object()) return std::nullopt;
    const json& pid = field(value, "pid");
    const json& started = field(value, "started");
    if (!pid.is_number_integer() || !started.is_number_unsigned() || pid.get<int64_t>() <= 0 ||
        pid.get<int64_t>() > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    return Process{pid.get<pid_t>(), started.get<uint64_t>()};
}

std::optional<Record> decode(const std::string& text) {
    const json value = json::parse(text, nullptr, false);
    if (!value.is_object()) return std::nullopt;
    Record record;
    Job& job = record.job;
    const json& domain = field(value, "domain");
    const json& label = field(value, "label");
    const json& definition = field(value, "definition");
    const json& arguments = field(value, "programArguments");
    const json& uid = field(value, "uid");
    if (!domain.is_string() || !label.is_string() || !definition.is_string() || !arguments.is_array() ||
        arguments.empty() || !uid.is_number_unsigned() || uid.get<uint64_t>() > UINT32_MAX)
        return std::nullopt;
    job.domain = domain.get<std::string>();
    job.label = label.get<std::string>();
    if (!domainUID(job.domain) || !validLabel(job.label)) return std::nullopt;
    job.definition = definition.get<std::string>();
    for (const json& argument : arguments) {
        if (!argument.is_string()) return std::nullopt;
        job.programArguments.push_back(argument.get<std::string>());
    }
    job.runAtLoad = field(value, "runAtLoad") == true;
    job.keepAlive = field(value, "keepAlive") == true;
    const json& status = field(value, "lastExitStatus");
    if (status.is_number_integer() && status.get<int64_t>() >= INT_MIN && status.get<int64_t>() <= INT_MAX)
        job.lastExitStatus = status.get<int>();
    const json& runs = field(value, "runs");
    if (runs.is_number_unsigned() && runs.get<uint64_t>() <= UINT_MAX) job.runs = runs.get<unsigned>();
    record.uid = uid.get<uint32_t>();
    record.process = decodeProcess(field(value, "process"));
    record.supervisor = decodeProcess(field(value, "supervisor"));
    return record;
}

std::optional<Record> readFile(const fs::path& file) {
    auto text = Files::read(file);
    return text ? decode(*text) : std::nullopt;
}

} // namespace

bool validLabel(std::string_view label) {
    if (label.empty() || label.front() == '.' || label.size() > longestLabel) return false;
    return std::none_of(label.begin(), label.end(),
                        [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

fs::path recordFile(const std::string& domain, const std::string& label, const fs::path& root) {
    return root / "launchd/jobs" / domain / (label + ".json");
}

fs::path logFile(const std::string& domain, const std::string& label, const fs::path& root) {
    return root / "launchd/logs" / domain / (label + ".log");
}

fs::path lockFile(const fs::path& root) { return root / "launchd/lock"; }

std::optional<Record> read(const std::string& domain, const std::string& label, const fs::path& root) {
    if (!domainUID(domain) || !validLabel(label)) return std::nullopt;
    auto record = readFile(recordFile(domain, label, root));
    // A file moved in from another domain's folder is not this job.
    if (!record || record->job.domain != domain || record->job.label != label) return std::nullopt;
    return record;
}

bool write(const Record& record, const fs::path& root) {
    const Job& job = record.job;
    if (!domainUID(job.domain) || !validLabel(job.label)) return false;
    json value{{"domain", job.domain},
               {"label", job.label},
               {"definition", job.definition.string()},
               {"programArguments", job.programArguments},
               {"runAtLoad", job.runAtLoad},
               {"keepAlive", job.keepAlive},
               {"uid", record.uid},
               {"process", encode(record.process)},
               {"supervisor", encode(record.supervisor)},
               {"lastExitStatus", job.lastExitStatus ? json(*job.lastExitStatus) : json(nullptr)},
               {"runs", job.runs}};
    fs::path file = recordFile(job.domain, job.label, root);
    if (Files::createDirectories(file.parent_path())) return false;
    return !Files::writeAtomically(file, value.dump(2) + "\n");
}

void remove(const std::string& domain, const std::string& label, const fs::path& root) {
    if (!domainUID(domain) || !validLabel(label)) return;
    std::error_code error;
    fs::remove(recordFile(domain, label, root), error);
}

std::vector<Record> all(const fs::path& root) {
    std::vector<fs::path> folders{root / "launchd/jobs/system"};
    std::error_code error;
    for (fs::directory_iterator entry(root / "launchd/jobs/gui", error), end; !error && entry != end;
         entry.increment(error))
        folders.push_back(entry->path());
    std::vector<Record> records;
    for (const auto& folder : folders)
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
            if (entry->path().extension() != ".json") continue;
            auto record = readFile(entry->path());
            if (record && recordFile(record->job.domain, record->job.label, root) == entry->path())
                records.push_back(std::move(*record));
        }
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
        return std::tie(a.job.domain, a.job.label) < std::tie(b.job.domain, b.job.label);
    });
    return records;
}

namespace {

struct Seen {
    Process process;
    bool ended = false;
};

std::optional<Seen> look(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    auto line = Files::read("/proc/" + std::to_string(pid) + "/stat");
    if (!line) return std::nullopt;
    auto started = ProcessTable::startTicks(*line, pid);
    size_t close = line->rfind(')');
    if (!started || close == std::string::npos || close + 2 >= line->size()) return std::nullopt;
    char state = (*line)[close + 2];
    return Seen{{pid, *started}, state == 'Z' || state == 'X' || state == 'x'};
}

} // namespace

std::optional<Process> identify(pid_t pid) {
    auto seen = look(pid);
    if (!seen) return std::nullopt;
    return seen->process;
}

std::optional<Process> living(pid_t pid) {
    auto seen = look(pid);
    if (!seen || seen->ended) return std::nullopt;
    return seen->process;
}

bool isAlive(const Process& process) { return living(process.pid) == process; }

} // namespace Platform::Launchd::Records
