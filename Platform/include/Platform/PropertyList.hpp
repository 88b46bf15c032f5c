#pragma once

#include "Platform/Clock.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

// Property lists, the platform's file format for bundles' Info.plist, user
// defaults and launchd job definitions: read in XML or binary form, written
// in either. Any thread.
namespace Platform {

struct PropertyValue;
using PropertyArray = std::vector<PropertyValue>;
using PropertyDictionary = std::map<std::string, PropertyValue>;
// Raw bytes (<data>).
struct PropertyData {
    std::string bytes;
    bool operator==(const PropertyData&) const = default;
};

struct PropertyValue {
    std::variant<bool, int64_t, double, std::string, Date, PropertyData, PropertyArray, PropertyDictionary> value;

    PropertyValue() : value(false) {}
    template <class T>
    requires(!std::is_same_v<std::decay_t<T>, PropertyValue>) PropertyValue(T v) : value(std::move(v)) {}
    PropertyValue(int v) : value(int64_t{v}) {}
    PropertyValue(const char* v) : value(std::string(v)) {}

    bool operator==(const PropertyValue&) const = default;

    // The value when it has this type, else nothing.
    template <class T>
    const T* as() const {
        return std::get_if<T>(&value);
    }
};

enum class PropertyListFormat { xml, binary };

// The file's property list; nothing when it is missing, damaged or holds a
// kind of value this layer does not know (a keyed-archive UID, say).
std::optional<PropertyValue> readPropertyList(const std::filesystem::path& file);
std::optional<PropertyValue> parsePropertyList(std::string_view bytes);

// The property list's bytes in the given form.
std::string encodePropertyList(const PropertyValue& value, PropertyListFormat format);

// The text value at `key` of a dictionary value; nothing when it is not a
// dictionary, has no such key or the value is not text.
std::optional<std::string> textValue(const PropertyValue& dictionary, const std::string& key);

} // namespace Platform
