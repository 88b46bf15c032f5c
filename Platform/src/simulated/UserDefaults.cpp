#include "Platform/UserDefaults.hpp"
#include "Platform/Files.hpp"
#include "Platform/User.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Platform::UserDefaults {

namespace {

std::optional<std::filesystem::path> file(const std::string& domain) {
    if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string::npos ||
        domain.find('\0') != std::string::npos)
        return std::nullopt;
    return homeDirectory() / "Library/Preferences" / (domain + ".plist");
}

PropertyDictionary load(const std::filesystem::path& path) {
    auto value = readPropertyList(path);
    if (!value) return {};
    const auto* dictionary = value->as<PropertyDictionary>();
    return dictionary != nullptr ? *dictionary : PropertyDictionary{};
}

// Changes the domain's dictionary under its lock and writes it back.
template <class Change>
bool update(const std::string& domain, Change change) {
    auto path = file(domain);
    if (!path) return false;
    Files::createDirectories(path->parent_path());
    std::string lockPath = path->string() + ".lock";
    int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return false;
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    PropertyDictionary dictionary = load(*path);
    change(dictionary);
    bool ok = !Files::writeAtomically(*path, encodePropertyList(dictionary, PropertyListFormat::binary), 0600);
    ::close(lock);
    return ok;
}

} // namespace

std::optional<PropertyValue> read(const std::string& domain, const std::string& key) {
    auto path = file(domain);
    if (!path) return std::nullopt;
    auto dictionary = load(*path);
    auto found = dictionary.find(key);
    if (found == dictionary.end()) return std::nullopt;
    return found->second;
}

bool write(const std::string& domain, const std::string& key, const PropertyValue& value) {
    return update(domain, [&](PropertyDictionary& dictionary) { dictionary.insert_or_assign(key, value); });
}

bool remove(const std::string& domain, const std::string& key) {
    return update(domain, [&](PropertyDictionary& dictionary) { dictionary.erase(key); });
}

std::vector<std::string> keys(const std::string& domain) {
    std::vector<std::string> names;
    auto path = file(domain);
    if (!path) return names;
    for (const auto& [key, value] : load(*path)) names.push_back(key);
    return names;
}

} // namespace Platform::UserDefaults
