#include "FirstTime.hpp"

#include <mutex>
#include <unordered_set>

namespace Log::detail {

namespace {

constexpr size_t rememberedKeys = 1024;

struct Memory {
    std::mutex lock;
    std::unordered_set<std::string> keys;
};

// Never destroyed: warnings may still be issued while the process exits.
Memory& memory() {
    static Memory* instance = new Memory;
    return *instance;
}

} // namespace

bool firstTime(std::string key) {
    Memory& m = memory();
    std::lock_guard hold(m.lock);
    if (m.keys.contains(key)) return false;
    if (m.keys.size() >= rememberedKeys) m.keys.clear();
    m.keys.insert(std::move(key));
    return true;
}

} // namespace Log::detail
