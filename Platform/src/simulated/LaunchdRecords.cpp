#include "LaunchdRecords.hpp"

#include "Platform/Files.hpp"
#include "Platform/ProcessTable.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

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

std::optional<Process> decodeProcess(const json& value) {
    if (!value.is_object() || !value["pid"].is_number_integer() || !value["started"].is_number_unsigned())
        return std::nullopt;
    pid_t pid = value["pid"].get<pid_t>();
    if (pid <= 0) return std::nullopt;
    return Process{pid, value["started"].get<uint64_t>()};
}

std::optional<Record> decode(const std::string& text) {
    json value = json::parse(text, nullptr, false);
    if (!value.is_object()) return std::nullopt;
    Record record;
    Job& job = record.job;
    const json& domain = value["domain"];
    const json& label = value["label"];
    const json& arguments = value["programArguments"];
    if (!domain.is_string() || !label.is_string() || !value["definition"].is_string() || !arguments.is_array() ||
        arguments.empty() || !value["uid"].is_number_unsigned())
        return std::nullopt;
    job.domain = domain.get<std::string>();
    job.label = label.get<std::string>();
    if (!domainUID(job.domain) || !validLabel(job.label)) return std::nullopt;
    job.definition = value["definition"].get<std::string>();
    for (const json& argument : arguments) {
        if (!argument.is_string()) return std::nullopt;
        job.programArguments.push_back(argument.get<std::string>());
    }
    job.runAtLoad = value.value("runAtLoad", false);
    job.keepAlive = value.value("keepAlive", false);
    if (value["lastExitStatus"].is_number_integer()) job.lastExitStatus = value["lastExitStatus"].get<int>();
    if (value["runs"].is_number_unsigned()) job.runs = value["runs"].get<unsigned>();
    record.uid = value["uid"].get<uint32_t>();
    record.process = decodeProcess(value["process"]);
    record.supervisor = decodeProcess(value["supervisor"]);
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
