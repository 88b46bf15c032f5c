#include "Platform/Power.hpp"
#include "Platform/Files.hpp"
#include "Platform/ProcessTable.hpp"
#include "Platform/SimulatedHost.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <set>
#include <unistd.h>

namespace Platform::Power {

namespace {

using nlohmann::json;

constexpr std::array<std::string_view, 4> thermalNames{"nominal", "fair", "serious", "critical"};

std::filesystem::path powerFolder(const std::filesystem::path& root) { return root / "power"; }
std::filesystem::path stateFile(const std::filesystem::path& root) { return powerFolder(root) / "state.json"; }
std::filesystem::path sourcesFile(const std::filesystem::path& root) { return powerFolder(root) / "sources.json"; }
std::filesystem::path assertionsFile(const std::filesystem::path& root) {
    return powerFolder(root) / "assertions.json";
}

// The machine's power lock, around each read-modify-write.
class PowerLock : public Files::Lock {
public:
    explicit PowerLock(const std::filesystem::path& root) : Files::Lock(powerFolder(root) / "lock") {}
};

// The file's JSON value; discarded (null) when missing or not JSON.
json readJSON(const std::filesystem::path& file) {
    auto text = Files::read(file);
    if (!text) return json();
    return json::parse(*text, nullptr, false);
}

json readObject(const std::filesystem::path& file) {
    json value = readJSON(file);
    return value.is_object() ? value : json::object();
}

bool writeJSON(const std::filesystem::path& file, const json& value) {
    Files::createDirectories(file.parent_path());
    return !Files::writeAtomically(file, value.dump() + "\n");
}

bool flag(const std::filesystem::path& root, const char* key) {
    json state = readObject(stateFile(root));
    auto found = state.find(key);
    return found != state.end() && found->is_boolean() && found->get<bool>();
}

bool setState(const std::filesystem::path& root, const char* key, json value) {
    PowerLock lock(root);
    json state = readObject(stateFile(root));
    state[key] = std::move(value);
    return writeJSON(stateFile(root), state);
}

// The laptop of a fresh machine: one internal battery, full, on AC power.
std::vector<json> freshSources() {
    return {json{{"Name", "InternalBattery-0"},
                 {"Type", "InternalBattery"},
                 {"Transport Type", "Internal"},
                 {"Is Present", true},
                 {"Power Source State", "AC Power"},
                 {"Current Capacity", 100},
                 {"Max Capacity", 100},
                 {"Is Charging", false},
                 {"Is Charged", true}}};
}

struct Stored {
    Assertion assertion;
    std::optional<uint64_t> started;
};

std::optional<Stored> storedAssertion(const json& entry) {
    if (!entry.is_object()) return std::nullopt;
    auto id = entry.find("id");
    if (id == entry.end() || !id->is_number_unsigned()) return std::nullopt;
    uint64_t number = id->get<uint64_t>();
    if (number == 0 || number > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    Stored stored;
    stored.assertion.id = static_cast<uint32_t>(number);
    auto text = [&](const char* key) {
        auto found = entry.find(key);
        return found != entry.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    stored.assertion.type = text("type");
    stored.assertion.name = text("name");
    if (auto level = entry.find("level"); level != entry.end() && level->is_number_integer())
        stored.assertion.level = static_cast<int>(level->get<int64_t>());
    if (auto pid = entry.find("pid"); pid != entry.end() && pid->is_number_integer()) {
        auto value = pid->get<int64_t>();
        if (value > 0 && value <= std::numeric_limits<pid_t>::max()) stored.assertion.pid = static_cast<pid_t>(value);
    }
    if (auto started = entry.find("started"); started != entry.end() && started->is_number_unsigned())
        stored.started = started->get<uint64_t>();
    return stored;
}

// An assertion lives as long as the process that made it, as on the
// platform; one written by hand without a process lives until released.
bool alive(const Stored& stored) {
    if (stored.assertion.pid == 0) return true;
    auto ticks = ProcessTable::startTicks(stored.assertion.pid);
    return ticks && (!stored.started || *stored.started == *ticks);
}

json entry(const Stored& stored) {
    json value{{"id", stored.assertion.id},
               {"type", stored.assertion.type},
               {"name", stored.assertion.name},
               {"level", stored.assertion.level},
               {"pid", stored.assertion.pid}};
    if (stored.started) value["started"] = *stored.started;
    return value;
}

struct Table {
    uint64_t next = 1;
    std::vector<Stored> live;
};

Table readTable(const std::filesystem::path& root) {
    json file = readObject(assertionsFile(root));
    Table table;
    if (auto next = file.find("next"); next != file.end() && next->is_number_unsigned()) {
        uint64_t value = next->get<uint64_t>();
        if (value >= 1 && value <= std::numeric_limits<uint32_t>::max()) table.next = value;
    }
    std::set<uint32_t> seen;
    if (auto list = file.find("assertions"); list != file.end() && list->is_array())
        for (const auto& item : *list)
            if (auto stored = storedAssertion(item);
                stored && alive(*stored) && seen.insert(stored->assertion.id).second)
                table.live.push_back(std::move(*stored));
    return table;
}

bool writeTable(const std::filesystem::path& root, const Table& table) {
    json list = json::array();
    for (const auto& stored : table.live) list.push_back(entry(stored));
    return writeJSON(assertionsFile(root), json{{"next", table.next}, {"assertions", std::move(list)}});
}

std::optional<std::string> injectedRefusal(const std::filesystem::path& root) {
    auto text = Files::read(powerFolder(root) / "assertion-error.txt");
    if (!text) return std::nullopt;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r')) text->pop_back();
    return *text;
}

} // namespace

std::string_view rawValue(ThermalState state) { return thermalNames[static_cast<size_t>(state)]; }

std::optional<ThermalState> thermalStateNamed(std::string_view text) {
    for (size_t i = 0; i < thermalNames.size(); ++i)
        if (thermalNames[i] == text) return static_cast<ThermalState>(i);
    return std::nullopt;
}

std::variant<uint32_t, Refusal> createAssertion(std::string_view type, std::string_view name, int level,
                                                const std::filesystem::path& root) {
    if (auto reason = injectedRefusal(root)) return Refusal{*reason};
    PowerLock lock(root);
    Table table = readTable(root);
    std::set<uint32_t> used;
    for (const auto& stored : table.live) used.insert(stored.assertion.id);
    if (used.size() >= std::numeric_limits<uint32_t>::max()) return Refusal{"no assertion IDs left"};

    uint64_t candidate = table.next;
    while (used.contains(static_cast<uint32_t>(candidate)))
        candidate = candidate >= std::numeric_limits<uint32_t>::max() ? 1 : candidate + 1;
    auto id = static_cast<uint32_t>(candidate);
    table.next = candidate >= std::numeric_limits<uint32_t>::max() ? 1 : candidate + 1;

    pid_t self = ::getpid();
    table.live.push_back({{id, std::string(type), std::string(name), level, self}, ProcessTable::startTicks(self)});
    if (!writeTable(root, table)) return Refusal{"the power state cannot be written"};
    return id;
}

std::variant<uint32_t, Refusal> createAssertion(std::string_view type, std::string_view name, int level) {
    return createAssertion(type, name, level, SimulatedHost::root());
}

std::optional<Refusal> releaseAssertion(uint32_t id, const std::filesystem::path& root) {
    PowerLock lock(root);
    Table table = readTable(root);
    auto found = std::find_if(table.live.begin(), table.live.end(),
                              [id](const Stored& stored) { return stored.assertion.id == id; });
    if (found == table.live.end()) return Refusal{"no assertion with ID " + std::to_string(id)};
    table.live.erase(found);
    if (!writeTable(root, table)) return Refusal{"the power state cannot be written"};
    return std::nullopt;
}

std::optional<Refusal> releaseAssertion(uint32_t id) { return releaseAssertion(id, SimulatedHost::root()); }

std::vector<Assertion> assertions(const std::filesystem::path& root) {
    std::vector<Assertion> result;
    for (auto& stored : readTable(root).live) result.push_back(std::move(stored.assertion));
    return result;
}

std::vector<Assertion> assertions() { return assertions(SimulatedHost::root()); }

std::optional<std::vector<json>> powerSources(const std::filesystem::path& root) {
    // A file holding null says the machine gives no power source
    // information; a missing or damaged one is the fresh laptop.
    if (auto text = Files::read(sourcesFile(root))) {
        json sources = json::parse(*text, nullptr, false);
        if (sources.is_array()) return sources.get<std::vector<json>>();
        if (sources.is_null()) return std::nullopt;
    }
    return freshSources();
}

std::optional<std::vector<json>> powerSources() { return powerSources(SimulatedHost::root()); }

bool lowPowerMode(const std::filesystem::path& root) { return flag(root, "lowPowerMode"); }
bool lowPowerMode() { return lowPowerMode(SimulatedHost::root()); }

ThermalState thermalState(const std::filesystem::path& root) {
    json state = readObject(stateFile(root));
    auto found = state.find("thermalState");
    if (found == state.end() || !found->is_string()) return ThermalState::nominal;
    return thermalStateNamed(found->get_ref<const std::string&>()).value_or(ThermalState::nominal);
}
ThermalState thermalState() { return thermalState(SimulatedHost::root()); }

bool mainDisplayAsleep(const std::filesystem::path& root) { return flag(root, "displayAsleep"); }
bool mainDisplayAsleep() { return mainDisplayAsleep(SimulatedHost::root()); }

bool sleepDisabled(const std::filesystem::path& root) { return flag(root, "sleepDisabled"); }
bool sleepDisabled() { return sleepDisabled(SimulatedHost::root()); }

bool setSleepDisabled(bool on, const std::filesystem::path& root) { return setState(root, "sleepDisabled", on); }
bool setLowPowerMode(bool on, const std::filesystem::path& root) { return setState(root, "lowPowerMode", on); }
bool setThermalState(ThermalState state, const std::filesystem::path& root) {
    return setState(root, "thermalState", std::string(rawValue(state)));
}
bool setMainDisplayAsleep(bool asleep, const std::filesystem::path& root) {
    return setState(root, "displayAsleep", asleep);
}

bool setPowerSources(const std::optional<std::vector<json>>& sources, const std::filesystem::path& root) {
    PowerLock lock(root);
    return writeJSON(sourcesFile(root), sources ? json(*sources) : json());
}

} // namespace Platform::Power
