#include "Platform/PropertyList.hpp"
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

// Property list dates count from 2001-01-01T00:00:00Z.
constexpr std::chrono::seconds referenceDate{978307200};

std::optional<PropertyValue> fromNode(plist_t node, int depth) {
    if (depth > 512) return std::nullopt; // a hostile file must not exhaust the stack
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return PropertyValue(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return PropertyValue(static_cast<int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return PropertyValue(value);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return PropertyValue(std::string(text != nullptr ? text : "", text != nullptr ? length : 0));
    }
    case PLIST_DATE: {
        int32_t seconds = 0, micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        return PropertyValue(Date(referenceDate + std::chrono::seconds(seconds) + std::chrono::microseconds(micros)));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return PropertyValue(PropertyData{std::string(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0)});
    }
    case PLIST_ARRAY: {
        PropertyArray array;
        for (uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i) {
            auto item = fromNode(plist_array_get_item(node, i), depth + 1);
            if (!item) return std::nullopt;
            array.push_back(std::move(*item));
        }
        return PropertyValue(std::move(array));
    }
    case PLIST_DICT: {
        PropertyDictionary dictionary;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        std::optional<PropertyValue> result;
        bool ok = true;
        while (ok) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iterator, &key, &item);
            if (key == nullptr || item == nullptr) {
                std::free(key);
                break;
            }
            auto value = fromNode(item, depth + 1);
            if (value)
                dictionary.insert_or_assign(key, std::move(*value));
            else
                ok = false;
            std::free(key);
        }
        std::free(iterator);
        if (!ok) return std::nullopt;
        return PropertyValue(std::move(dictionary));
    }
    default: return std::nullopt;
    }
}

plist_t toNode(const PropertyValue& value) {
    return std::visit(
        [](const auto& v) -> plist_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>) {
                return plist_new_bool(v ? 1 : 0);
            } else if constexpr (std::is_same_v<T, int64_t>) {
                return plist_new_uint(static_cast<uint64_t>(v));
            } else if constexpr (std::is_same_v<T, double>) {
                return plist_new_real(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return plist_new_string(v.c_str());
            } else if constexpr (std::is_same_v<T, Date>) {
                auto since =
                    std::chrono::duration_cast<std::chrono::microseconds>(v.time_since_epoch() - referenceDate);
                auto seconds = std::chrono::floor<std::chrono::seconds>(since);
                return plist_new_date(static_cast<int32_t>(seconds.count()),
                                      static_cast<int32_t>((since - seconds).count()));
            } else if constexpr (std::is_same_v<T, PropertyData>) {
                return plist_new_data(v.bytes.data(), v.bytes.size());
            } else if constexpr (std::is_same_v<T, PropertyArray>) {
                plist_t array = plist_new_array();
                for (const auto& item : v) plist_array_append_item(array, toNode(item));
                return array;
            } else {
                plist_t dictionary = plist_new_dict();
                for (const auto& [key, item] : v) plist_dict_set_item(dictionary, key.c_str(), toNode(item));
                return dictionary;
            }
        },
        value.value);
}

} // namespace

std::optional<PropertyValue> parsePropertyList(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > std::numeric_limits<uint32_t>::max()) return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root) return std::nullopt;
    return fromNode(root.get(), 0);
}

std::optional<PropertyValue> readPropertyList(const std::filesystem::path& file) {
    auto data = Files::read(file);
    if (!data) return std::nullopt;
    return parsePropertyList(*data);
}

std::string encodePropertyList(const PropertyValue& value, PropertyListFormat format) {
    PlistPtr node(toNode(value));
    char* bytes = nullptr;
    uint32_t length = 0;
    if (format == PropertyListFormat::xml)
        plist_to_xml(node.get(), &bytes, &length);
    else
        plist_to_bin(node.get(), &bytes, &length);
    std::string result(bytes != nullptr ? bytes : "", bytes != nullptr ? length : 0);
    std::free(bytes);
    return result;
}

std::optional<std::string> textValue(const PropertyValue& dictionary, const std::string& key) {
    const auto* entries = dictionary.as<PropertyDictionary>();
    if (entries == nullptr) return std::nullopt;
    auto found = entries->find(key);
    if (found == entries->end()) return std::nullopt;
    if (const auto* text = found->second.as<std::string>()) return *text;
    return std::nullopt;
}

} // namespace Platform
