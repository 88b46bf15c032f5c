#include "FirstTime.hpp"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

namespace Log::detail {

namespace {

constexpr size_t rememberedKeys = 1024;
// Keys can carry text from outside (a malformed trace context): a long one
// is remembered as its beginning, its length and a hash of the whole, so
// the memory stays small whatever arrives.
constexpr size_t longestKeptKey = 256;

std::string remembered(std::string key) {
    if (key.size() <= longestKeptKey) return key;
    uint64_t hash = 14695981039346656037ull; // 64-bit FNV-1a
    for (unsigned char byte : key) hash = (hash ^ byte) * 1099511628211ull;
    std::string kept = key.substr(0, longestKeptKey - 48);
    kept += '\x03';
    kept += std::to_string(key.size());
    kept += ':';
    kept += std::to_string(hash);
    return kept;
}

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
    key = remembered(std::move(key));
    Memory& m = memory();
    std::lock_guard hold(m.lock);
    if (m.keys.contains(key)) return false;
    if (m.keys.size() >= rememberedKeys) m.keys.clear();
    m.keys.insert(std::move(key));
    return true;
}

} // namespace Log::detail
