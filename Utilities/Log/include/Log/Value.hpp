#pragma once

#include <Log/Encoding.hpp>

#include <nlohmann/json_fwd.hpp>

#include <algorithm>
#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ranges>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

// Field values of log events and their JSON form. A `Value` is made from
// almost anything at the call site ({"pid", 42}, {"path", path},
// {"err", error}) and owns what it needs, so it can outlive the expression
// it came from. The JSON is canonical: object keys sorted by their UTF-8
// bytes, set elements sorted, numbers in one form. Values are immutable and
// may be shared between threads.
namespace Log {

// An error as the log shows it: its type's name, its message and, for an
// exception thrown with std::throw_with_nested, the exception it wraps.
struct Error {
    std::string type;
    std::string message;
    std::shared_ptr<const Error> cause;

    static Error from(const std::exception& error);
    // Anything thrown; an empty pointer gives type "std::exception_ptr" and
    // message "no exception".
    static Error from(const std::exception_ptr& error);
    static Error from(const std::error_code& error);

    // {"type":…,"message":…} with ,"cause":{…} before the brace when there is one.
    void encode(std::string& into) const;
};

// An error's own description (what()), or for an error code its system
// message.
std::string errorMessage(const std::exception& error);
std::string errorMessage(const std::exception_ptr& error);
std::string errorMessage(const std::error_code& error);

// A decimal number of any precision, written as a JSON string of its text
// so that no digit is lost to a reader's doubles.
struct Decimal {
    std::string text;
};

class Value;

namespace detail {

template <class T>
inline constexpr bool isOptional = false;
template <class T>
inline constexpr bool isOptional<std::optional<T>> = true;

template <class T>
inline constexpr bool isDate = false;
template <class D>
inline constexpr bool isDate<std::chrono::time_point<std::chrono::system_clock, D>> = true;

template <class T>
inline constexpr bool isDuration = false;
template <class R, class P>
inline constexpr bool isDuration<std::chrono::duration<R, P>> = true;

template <class T>
concept Null = std::same_as<T, std::nullopt_t> || std::same_as<T, std::nullptr_t> || std::same_as<T, std::monostate>;

template <class T>
concept JSONTree = std::same_as<T, nlohmann::json> || std::same_as<T, nlohmann::ordered_json>;

template <class T>
concept Text = std::same_as<T, std::string> || std::same_as<T, std::string_view> || std::same_as<T, const char*> ||
    std::same_as<T, char*> || std::same_as<T, char> || std::same_as<T, std::filesystem::path> ||
    (std::is_array_v<T>&& std::same_as<std::remove_cv_t<std::remove_extent_t<T>>, char>);

template <class T>
concept Integer = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;

template <class T>
concept Bytes = std::ranges::contiguous_range<T> && std::same_as<std::ranges::range_value_t<T>, std::byte>;

template <class T>
concept ErrorLike =
    std::derived_from<T, std::exception> || std::same_as<T, std::exception_ptr> || std::same_as<T, std::error_code> ||
    std::same_as<T, std::errc> || std::is_error_code_enum_v<T> || std::same_as<T, Error>;

template <class T>
concept MapLike = std::ranges::input_range<T> && requires {
    typename T::key_type;
    typename T::mapped_type;
};

template <class T>
concept SetLike = std::ranges::input_range<T> && !MapLike<T> && requires {
    typename T::key_type;
};

// A type that nlohmann can serialise: a to_json found next to the type.
template <class T>
concept Record = requires(nlohmann::json& tree, const T& value) {
    to_json(tree, value);
};

template <class T>
concept Printable = requires(std::ostream& out, const T& value) {
    out << value;
};

// The bytes of any Text.
template <class T>
std::string_view textOf(const T& text) {
    if constexpr (std::same_as<T, std::filesystem::path>)
        return text.native();
    else if constexpr (std::same_as<T, char>)
        return {&text, 1};
    else if constexpr (std::is_pointer_v<T>)
        return text != nullptr ? std::string_view(text) : std::string_view();
    else
        return std::string_view(text);
}

// Durations in milliseconds, whole seconds and the rest apart so that long
// integer durations keep their sub-millisecond digits.
template <class R, class P>
double milliseconds(std::chrono::duration<R, P> length) {
    if constexpr (std::is_floating_point_v<R>) {
        return std::chrono::duration<double, std::milli>(length).count();
    } else {
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length);
        auto rest = std::chrono::duration_cast<std::chrono::duration<double, std::milli>>(length - seconds);
        return static_cast<double>(seconds.count()) * 1000.0 + rest.count();
    }
}

template <class D>
std::int64_t millisecondsSince1970(std::chrono::time_point<std::chrono::system_clock, D> date) {
    return std::chrono::floor<std::chrono::milliseconds>(date.time_since_epoch()).count();
}

// A float's shortest decimal digits read back as a double: 0.1f is 0.1.
double widen(float value);

std::string demangledName(const char* mangled);

template <class T>
std::string describe(const T& value) {
    if constexpr (Printable<T>) {
        std::ostringstream text;
        text << value;
        return std::move(text).str();
    } else if constexpr (std::is_enum_v<T>) {
        auto raw = static_cast<std::underlying_type_t<T>>(value);
        if constexpr (std::is_signed_v<decltype(raw)>)
            return std::to_string(static_cast<long long>(raw));
        else
            return std::to_string(static_cast<unsigned long long>(raw));
    } else {
        return demangledName(typeid(T).name());
    }
}

template <class T>
Error errorOf(const T& error) {
    if constexpr (std::same_as<T, Error>)
        return error;
    else if constexpr (std::same_as<T, std::errc>)
        return Error::from(std::make_error_code(error));
    else if constexpr (std::is_error_code_enum_v<T>)
        return Error::from(std::error_code(make_error_code(error)));
    else
        return Error::from(error);
}

void encodeTree(const nlohmann::json& tree, std::string& into);
void encodeTree(const nlohmann::ordered_json& tree, std::string& into);

using RecordWriter = void (*)(nlohmann::json& tree, const void* value);
using Describer = std::string (*)(const void* value);
// Serialises through `write` and walks the tree with keys sorted; when the
// serialiser throws, writes `describe`'s text as a JSON string instead.
void encodeRecord(RecordWriter write, Describer describe, const void* value, std::string& into);

template <class T>
void writeRecord(nlohmann::json& tree, const void* value) {
    to_json(tree, *static_cast<const T*>(value));
}

template <class T>
std::string describeOpaque(const void* value) {
    return describe(*static_cast<const T*>(value));
}

template <class T>
constexpr bool unsupported = false;

template <class Map>
void encodeMap(const Map& map, std::string& into);
template <class Set>
void encodeSet(const Set& set, std::string& into);
template <class List>
void encodeList(const List& list, std::string& into);

template <class T>
bool isNullText(const T& text) {
    if constexpr (std::is_pointer_v<T>)
        return text == nullptr;
    else
        return false;
}

} // namespace detail

// Appends the JSON text of any value:
//  - absent optionals, std::nullopt and nullptr write null; present ones their content;
//  - nlohmann trees are walked with object keys sorted;
//  - texts (strings, views, C strings, chars, paths) are JSON strings; a null C string is null;
//  - booleans; integers bare up to 2^53 - 1 in magnitude, else as strings of digits;
//  - floats by their shortest digits, doubles as ECMAScript numbers;
//  - system-clock times as instant strings; durations as milliseconds;
//  - ranges of std::byte as Base64 strings; Decimal as a string of its text;
//  - exceptions, exception pointers and error codes as error objects;
//  - maps as objects, keys that are not text by their printed form (when two
//    keys print the same, the first in the map's order is kept);
//  - sets as arrays sorted by the elements' JSON; other ranges as arrays;
//  - records with a to_json as their nlohmann tree, keys sorted;
//  - anything else printable with << as a string of what it prints.
template <class T>
void encode(const T& value, std::string& into);

// A text-keyed map's pairs ordered by the keys' UTF-8 bytes. The keys and
// values point into `map`.
template <class Map>
std::vector<std::pair<std::string_view, const typename Map::mapped_type*>> sortedPairs(const Map& map) {
    std::vector<std::pair<std::string_view, const typename Map::mapped_type*>> pairs;
    pairs.reserve(map.size());
    for (const auto& [key, value] : map) pairs.emplace_back(detail::textOf(key), &value);
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return pairs;
}

class Value {
public:
    // null
    Value() = default;

    template <class T>
    requires(!std::same_as<std::remove_cvref_t<T>, Value>) Value(const T& value) { assign(value); }
    Value(std::string&& text) : storage_(std::move(text)) {}

    void encode(std::string& into) const;
    std::string json() const;
    // How a human line shows the value: texts and error messages as
    // `humanText`, everything else as its JSON.
    std::string human() const;
    // The same, given this value's JSON, which it is for most kinds.
    std::string human(const std::string& json) const;
    bool isNull() const { return std::holds_alternative<std::monostate>(storage_); }

private:
    struct Instant {
        std::int64_t milliseconds;
    };
    struct Encoded {
        std::string json;
    };

    template <class T>
    void assign(const T& value) {
        using U = std::remove_cvref_t<T>;
        if constexpr (std::same_as<U, Value>) {
            // A value inside an optional keeps its kind, so a text still
            // reads as a word in human lines.
            storage_ = value.storage_;
        } else if constexpr (detail::Null<U>) {
            storage_ = std::monostate{};
        } else if constexpr (detail::isOptional<U>) {
            if (value)
                assign(*value);
            else
                storage_ = std::monostate{};
        } else if constexpr (std::same_as<U, std::exception_ptr>) {
            if (value)
                storage_ = Error::from(value);
            else
                storage_ = std::monostate{};
        } else if constexpr (detail::JSONTree<U>) {
            // A parsed string is text like any other; the rest keeps its
            // JSON, which is also how human lines show it.
            if (value.is_string())
                storage_ = value.template get<std::string>();
            else
                assignEncoded(value);
        } else if constexpr (detail::Text<U>) {
            if (detail::isNullText(value))
                storage_ = std::monostate{};
            else
                storage_ = std::string(detail::textOf(value));
        } else if constexpr (std::same_as<U, bool>) {
            storage_ = value;
        } else if constexpr (detail::Integer<U>) {
            if constexpr (std::is_signed_v<U>)
                storage_ = static_cast<std::int64_t>(value);
            else
                storage_ = static_cast<std::uint64_t>(value);
        } else if constexpr (std::same_as<U, float>) {
            storage_ = detail::widen(value);
        } else if constexpr (std::floating_point<U>) {
            storage_ = static_cast<double>(value);
        } else if constexpr (detail::isDate<U>) {
            storage_ = Instant{detail::millisecondsSince1970(value)};
        } else if constexpr (detail::isDuration<U>) {
            storage_ = detail::milliseconds(value);
        } else if constexpr (detail::ErrorLike<U>) {
            storage_ = detail::errorOf(value);
        } else {
            assignEncoded(value);
        }
    }

    template <class T>
    void assignEncoded(const T& value) {
        Encoded encoded;
        Log::encode(value, encoded.json);
        storage_ = std::move(encoded);
    }

    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string, Instant, Error, Encoded>
        storage_;
};

// The fields of one event or span, as call sites write them:
// {{"pid", 42}, {"path", path}}. Keys are unique and ordered by their bytes.
using Fields = std::map<std::string, Value, std::less<>>;

template <class T>
void encode(const T& value, std::string& into) {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::same_as<U, Value>) {
        value.encode(into);
    } else if constexpr (detail::Null<U>) {
        into += "null";
    } else if constexpr (detail::isOptional<U>) {
        if (value)
            Log::encode(*value, into);
        else
            into += "null";
    } else if constexpr (detail::JSONTree<U>) {
        detail::encodeTree(value, into);
    } else if constexpr (detail::Text<U>) {
        if (detail::isNullText(value))
            into += "null";
        else
            appendString(detail::textOf(value), into);
    } else if constexpr (std::same_as<U, bool>) {
        into += value ? "true" : "false";
    } else if constexpr (detail::Integer<U>) {
        if constexpr (std::is_signed_v<U>)
            appendInteger(static_cast<std::int64_t>(value), into);
        else
            appendInteger(static_cast<std::uint64_t>(value), into);
    } else if constexpr (std::same_as<U, float>) {
        appendNumber(detail::widen(value), into);
    } else if constexpr (std::floating_point<U>) {
        appendNumber(static_cast<double>(value), into);
    } else if constexpr (detail::isDate<U>) {
        into += '"';
        appendInstant(detail::millisecondsSince1970(value), into);
        into += '"';
    } else if constexpr (detail::isDuration<U>) {
        appendNumber(detail::milliseconds(value), into);
    } else if constexpr (detail::Bytes<U>) {
        into += '"';
        appendBase64(std::span<const std::byte>(std::ranges::data(value), std::ranges::size(value)), into);
        into += '"';
    } else if constexpr (std::same_as<U, Decimal>) {
        appendString(value.text, into);
    } else if constexpr (std::same_as<U, std::exception_ptr>) {
        if (value)
            Error::from(value).encode(into);
        else
            into += "null";
    } else if constexpr (detail::ErrorLike<U>) {
        detail::errorOf(value).encode(into);
    } else if constexpr (detail::MapLike<U>) {
        detail::encodeMap(value, into);
    } else if constexpr (detail::SetLike<U>) {
        detail::encodeSet(value, into);
    } else if constexpr (std::ranges::input_range<U>) {
        detail::encodeList(value, into);
    } else if constexpr (detail::Record<U>) {
        detail::encodeRecord(&detail::writeRecord<U>, &detail::describeOpaque<U>, &value, into);
    } else if constexpr (detail::Printable<U> || std::is_enum_v<U>) {
        appendString(detail::describe(value), into);
    } else {
        static_assert(detail::unsupported<U>, "a log field value needs a JSON form: give the type a to_json or <<");
    }
}

namespace detail {

template <class Map>
void encodeMap(const Map& map, std::string& into) {
    using Key = std::remove_cvref_t<typename Map::key_type>;
    into += '{';
    bool first = true;
    auto write = [&](std::string_view key, const auto& value) {
        if (!first) into += ',';
        first = false;
        appendString(key, into);
        into += ':';
        Log::encode(value, into);
    };
    if constexpr (detail::Text<Key>) {
        for (const auto& [key, value] : sortedPairs(map)) write(key, *value);
    } else {
        std::vector<std::pair<std::string, const typename Map::mapped_type*>> pairs;
        for (const auto& [key, value] : map) pairs.emplace_back(detail::describe(key), &value);
        std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = 0; i < pairs.size(); ++i)
            if (i == 0 || pairs[i].first != pairs[i - 1].first) write(pairs[i].first, *pairs[i].second);
    }
    into += '}';
}

template <class Set>
void encodeSet(const Set& set, std::string& into) {
    std::vector<std::string> elements;
    for (const auto& element : set) Log::encode(element, elements.emplace_back());
    std::sort(elements.begin(), elements.end());
    into += '[';
    for (size_t i = 0; i < elements.size(); ++i) {
        if (i > 0) into += ',';
        into += elements[i];
    }
    into += ']';
}

template <class List>
void encodeList(const List& list, std::string& into) {
    into += '[';
    bool first = true;
    for (const auto& element : list) {
        if (!first) into += ',';
        first = false;
        Log::encode(element, into);
    }
    into += ']';
}

} // namespace detail

} // namespace Log
