#include "SystemLogSink.hpp"

#include "Log/Settings.hpp"

#include <Platform/MainBundle.hpp>
#include <Platform/SystemLog.hpp>

#include <map>
#include <memory>
#include <mutex>

namespace Log::detail {

namespace {

Platform::SystemLogType typeOf(Verb verb) {
    switch (verb) {
    case Verb::error:
    case Verb::fail: return Platform::SystemLogType::error;
    case Verb::debug:
    case Verb::trace: return Platform::SystemLogType::debug;
    default: return Platform::SystemLogType::standard;
    }
}

// The application's identifier: its main bundle's (which, here, is the
// .app bundle around the executable), else the service name. Decided once.
const std::string& subsystem() {
    static const std::string name = [] {
        if (auto identifier = Platform::mainBundleIdentifier()) return *identifier;
        return service();
    }();
    return name;
}

std::string category(const std::vector<std::string>& scope) {
    if (scope.empty()) return "root";
    std::string name = scope.front();
    for (size_t i = 1; i < scope.size(); ++i) {
        name += '.';
        name += scope[i];
    }
    return name;
}

struct Loggers {
    std::mutex lock;
    // The system log the loggers below came from; a replaced one (in tests)
    // starts the map afresh.
    Platform::SystemLog* source = nullptr;
    std::map<std::string, std::unique_ptr<Platform::SystemLogger>, std::less<>> byCategory;
};

Loggers& loggers() {
    static Loggers* instance = new Loggers;
    return *instance;
}

} // namespace

void writeSystemLog(const Event& event, std::string_view json) {
    Platform::SystemLog& log = Platform::systemLog();
    std::string name = category(event.scope);
    Loggers& all = loggers();
    // Held through the write: replacing the system log drops the loggers.
    std::lock_guard hold(all.lock);
    if (all.source != &log) {
        all.byCategory.clear();
        all.source = &log;
    }
    auto found = all.byCategory.find(name);
    if (found == all.byCategory.end()) found = all.byCategory.emplace(name, log.logger(subsystem(), name)).first;
    Platform::SystemLogType type = typeOf(event.verb);
    if (found->second->enabled(type)) found->second->write(type, json);
}

} // namespace Log::detail
