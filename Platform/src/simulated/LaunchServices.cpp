#include "Platform/LaunchServices.hpp"
#include "LaunchServicesStore.hpp"
#include "Platform/SimulatedHost.hpp"

#include <algorithm>
#include <cstdio>

namespace Platform::LaunchServices {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path recordsFile(const fs::path& root) { return Store::folder(root) / "records.json"; }

// The database as it is on disk: the readable records, the entries that are
// not (kept as they are, so a hand edit loses nothing) and the next number.
struct Database {
    std::vector<Record> records;
    std::vector<json> unreadable;
    uint64_t next = 1;
};

std::optional<Record> parse(const json& entry) {
    if (!entry.is_object()) return std::nullopt;
    for (const char* key : {"path", "identifier", "kind", "name", "version"})
        if (!entry.contains(key) || !entry[key].is_string()) return std::nullopt;
    if (!entry.contains("unit") || !entry["unit"].is_number_unsigned()) return std::nullopt;
    std::string kind = entry["kind"];
    if (kind != "app" && kind != "appex") return std::nullopt;
    return Record{entry["path"], entry["identifier"], kind == "app" ? Kind::app : Kind::appex,
                  entry["name"], entry["version"],    entry["unit"].get<uint64_t>()};
}

json encode(const Record& record) {
    return {
        {"path", record.path}, {"identifier", record.identifier}, {"kind", record.kind == Kind::app ? "app" : "appex"},
        {"name", record.name}, {"version", record.version},       {"unit", record.unit}};
}

Database readDatabase(const fs::path& root) {
    Database database;
    json document = Store::read(recordsFile(root));
    if (!document.is_object()) return database;
    if (document.contains("next") && document["next"].is_number_unsigned())
        database.next = std::max<uint64_t>(1, document["next"].get<uint64_t>());
    if (!document.contains("records") || !document["records"].is_array()) return database;
    for (const json& entry : document["records"]) {
        if (auto record = parse(entry))
            database.records.push_back(std::move(*record));
        else
            database.unreadable.push_back(entry);
    }
    for (const auto& record : database.records) database.next = std::max(database.next, record.unit + 1);
    return database;
}

bool writeDatabase(const Database& database, const fs::path& root) {
    json list = json::array();
    for (const auto& record : database.records) list.push_back(encode(record));
    for (const auto& entry : database.unreadable) list.push_back(entry);
    return Store::write(recordsFile(root), json{{"next", database.next}, {"records", list}});
}

void upsert(Database& database, Record record) {
    auto same = std::ranges::find(database.records, record.path, &Record::path);
    if (same != database.records.end()) {
        record.unit = same->unit;
        *same = std::move(record);
        return;
    }
    record.unit = database.next++;
    database.records.push_back(std::move(record));
}

Record recordOf(const std::string& macPath, const Store::BundleInfo& info) {
    Kind kind = macPath.ends_with(".appex") ? Kind::appex : Kind::app;
    return {macPath, info.identifier, kind, info.name, info.version, 0};
}

// The app and extension bundles below `contents`, depth first, in the file
// system's order, links never followed.
void addCarried(Database& database, const std::string& macContents, const fs::path& contents) {
    std::error_code error;
    fs::recursive_directory_iterator walk(contents, fs::directory_options::skip_permission_denied, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::directory_entry& entry = *walk;
        if (entry.is_symlink(error) || !Store::isAppOrExtension(entry.path().filename().string())) continue;
        std::string relative = entry.path().lexically_relative(contents).string();
        std::string macPath = macContents + "/" + relative;
        if (auto info = Store::readBundle(entry.path())) upsert(database, recordOf(macPath, *info));
    }
}

std::string hex(uint64_t number) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(number));
    return text;
}

// One line of a block. A line break or other control character in a name
// or identifier would start a line of its own and could pass for another
// record's: it is shown as "?".
std::string field(std::string_view name, std::string value) {
    std::string line(name);
    line += ':';
    line.append(line.size() < 28 ? 28 - line.size() : 1, ' ');
    for (char& c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return line + value + "\n";
}

} // namespace

std::vector<Record> records(const fs::path& root) { return readDatabase(root).records; }

std::optional<std::string> registerBundle(std::string_view path, const fs::path& root) {
    std::string macPath = Store::standardized(path);
    fs::path host = SimulatedHost::hostPath(macPath, root);
    auto info = Store::isAppOrExtension(macPath) ? Store::readBundle(host) : std::nullopt;
    if (!info) return Store::problemWith(macPath, host);
    Store::Lock lock(root);
    Database database = readDatabase(root);
    upsert(database, recordOf(macPath, *info));
    addCarried(database, macPath + "/Contents", host / "Contents");
    if (!writeDatabase(database, root)) return macPath + ": the database cannot be written";
    return std::nullopt;
}

bool unregisterBundle(std::string_view path, const fs::path& root) {
    std::string macPath = Store::standardized(path);
    Store::Lock lock(root);
    Database database = readDatabase(root);
    std::string inside = macPath == "/" ? macPath : macPath + "/";
    auto isGone = [&](const Record& record) { return record.path == macPath || record.path.starts_with(inside); };
    if (std::erase_if(database.records, isGone) == 0) return false;
    return writeDatabase(database, root);
}

std::string dumpText(const std::vector<Record>& records) {
    const std::string dashes(80, '-');
    std::string text = "Checking data integrity......done.\n"
                       "Status: Database is seeded.\n"
                       "Status: Preferences are loaded.\n";
    for (const auto& record : records) {
        bool app = record.kind == Kind::app;
        text += dashes + "\n";
        text += field(app ? "bundle id" : "plugin id", std::to_string(record.unit));
        text += field("path", record.path + " (" + hex(record.unit) + ")");
        text += field("name", record.name);
        text += field("identifier", record.identifier);
        text += field("version", record.version);
        text += field("type", app ? "application" : "app extension");
        text += field("flags", app ? "apple-internal-false registered" : "plugin registered");
        text += "\n";
        // What the bundle claims comes after its own identifier, with
        // identifier lines of its own.
        text += field("claim id", record.name + " document (" + hex(record.unit * 16 + 1) + ")");
        text += field("rank", "Default");
        text += field("identifier", app ? "public.data" : record.identifier + ".extension-point");
        text += "\n";
    }
    return text;
}

} // namespace Platform::LaunchServices
