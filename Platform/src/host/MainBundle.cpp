#include "Platform/MainBundle.hpp"
#include "Platform/Files.hpp"

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace Platform {

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

} // namespace

std::optional<std::string> readBundleIdentifier(const std::filesystem::path& infoPlist) {
    auto data = Files::read(infoPlist);
    if (!data || data->empty() || data->size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;

    plist_t raw = nullptr;
    plist_from_memory(data->data(), static_cast<uint32_t>(data->size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;

    plist_t node = plist_dict_get_item(root.get(), "CFBundleIdentifier");
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    if (value == nullptr) return std::nullopt;
    std::string identifier(value);
    std::free(value);
    if (identifier.empty()) return std::nullopt;
    return identifier;
}

std::optional<Bundle> Bundle::containing(const std::filesystem::path& executable) {
    std::filesystem::path macOS = executable.parent_path();
    std::filesystem::path contents = macOS.parent_path();
    std::filesystem::path app = contents.parent_path();
    if (macOS.filename() != "MacOS" || contents.filename() != "Contents" || app.extension() != ".app")
        return std::nullopt;
    return Bundle{app, readBundleIdentifier(contents / "Info.plist")};
}

const std::optional<Bundle>& Bundle::main() {
    static const std::optional<Bundle> bundle = [] {
        std::error_code error;
        std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
        return error ? std::nullopt : containing(executable);
    }();
    return bundle;
}

std::optional<std::string> mainBundleIdentifier() {
    const auto& bundle = Bundle::main();
    return bundle ? bundle->identifier : std::nullopt;
}

} // namespace Platform
