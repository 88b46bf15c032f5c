#include "Log/Value.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdlib>

#include <cxxabi.h>

namespace Log {

namespace {

// std::throw_with_nested throws a library class that derives from both the
// thrown type and std::nested_exception; the log names the thrown type.
std::string withoutNestingWrapper(std::string name) {
    for (std::string_view wrapper : {"std::_Nested_exception<", "std::__nested<"}) {
        if (name.starts_with(wrapper) && name.ends_with('>')) {
            name.erase(name.size() - 1);
            name.erase(0, wrapper.size());
            break;
        }
    }
    return name;
}

template <class Tree>
void walk(const Tree& tree, std::string& into) {
    using Type = nlohmann::json::value_t;
    switch (tree.type()) {
    case Type::boolean: into += tree.template get<bool>() ? "true" : "false"; return;
    case Type::number_integer: appendInteger(tree.template get<std::int64_t>(), into); return;
    case Type::number_unsigned: appendInteger(tree.template get<std::uint64_t>(), into); return;
    case Type::number_float: appendNumber(tree.template get<double>(), into); return;
    case Type::string: appendString(tree.template get_ref<const std::string&>(), into); return;
    case Type::binary: {
        const auto& bytes = tree.get_binary();
        into += '"';
        appendBase64(std::as_bytes(std::span(bytes.data(), bytes.size())), into);
        into += '"';
        return;
    }
    case Type::array: {
        into += '[';
        bool first = true;
        for (const auto& element : tree) {
            if (!first) into += ',';
            first = false;
            walk(element, into);
        }
        into += ']';
        return;
    }
    case Type::object: {
        into += '{';
        bool first = true;
        for (const auto& [key, value] : sortedPairs(tree.template get_ref<const typename Tree::object_t&>())) {
            if (!first) into += ',';
            first = false;
            appendString(key, into);
            into += ':';
            walk(*value, into);
        }
        into += '}';
        return;
    }
    case Type::null:
    case Type::discarded: into += "null"; return;
    }
    into += "null";
}

} // namespace

Error Error::from(const std::exception& error) {
    Error result{withoutNestingWrapper(detail::demangledName(typeid(error).name())), error.what(), nullptr};
    if (auto nested = dynamic_cast<const std::nested_exception*>(&error); nested && nested->nested_ptr())
        result.cause = std::make_shared<const Error>(from(nested->nested_ptr()));
    return result;
}

Error Error::from(const std::exception_ptr& error) {
    if (!error) return Error{"std::exception_ptr", "no exception", nullptr};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& thrown) {
        return from(thrown);
    } catch (const std::string& text) {
        return Error{"std::string", text, nullptr};
    } catch (const char* text) {
        return Error{"const char*", text != nullptr ? text : "", nullptr};
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return Error{type != nullptr ? detail::demangledName(type->name()) : "unknown", "unknown error", nullptr};
    }
}

Error Error::from(const std::error_code& error) { return Error{"std::error_code", error.message(), nullptr}; }

void Error::encode(std::string& into) const {
    into += "{\"type\":";
    appendString(type, into);
    into += ",\"message\":";
    appendString(message, into);
    if (cause) {
        into += ",\"cause\":";
        cause->encode(into);
    }
    into += '}';
}

std::string errorMessage(const std::exception& error) { return error.what(); }
std::string errorMessage(const std::exception_ptr& error) { return Error::from(error).message; }
std::string errorMessage(const std::error_code& error) { return error.message(); }

namespace detail {

double widen(float value) {
    char digits[32];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    double wide = value;
    std::from_chars(digits, end, wide);
    return wide;
}

std::string demangledName(const char* mangled) {
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && readable != nullptr ? readable : mangled;
    std::free(readable);
    return name;
}

void encodeTree(const nlohmann::json& tree, std::string& into) { walk(tree, into); }
void encodeTree(const nlohmann::ordered_json& tree, std::string& into) { walk(tree, into); }

void encodeRecord(RecordWriter write, Describer describe, const void* value, std::string& into) {
    std::string json;
    try {
        nlohmann::json tree;
        write(tree, value);
        walk(tree, json);
    } catch (...) {
        json.clear();
        appendString(describe(value), json);
    }
    into += json;
}

} // namespace detail

void Value::encode(std::string& into) const {
    struct Visitor {
        std::string& into;
        void operator()(std::monostate) const { into += "null"; }
        void operator()(bool value) const { into += value ? "true" : "false"; }
        void operator()(std::int64_t value) const { appendInteger(value, into); }
        void operator()(std::uint64_t value) const { appendInteger(value, into); }
        void operator()(double value) const { appendNumber(value, into); }
        void operator()(const std::string& value) const { appendString(value, into); }
        void operator()(const Instant& value) const {
            into += '"';
            appendInstant(value.milliseconds, into);
            into += '"';
        }
        void operator()(const Error& value) const { value.encode(into); }
        void operator()(const Encoded& value) const { into += value.json; }
    };
    std::visit(Visitor{into}, storage_);
}

std::string Value::json() const {
    std::string text;
    encode(text);
    return text;
}

std::string Value::human() const { return human(json()); }

std::string Value::human(const std::string& json) const {
    if (auto text = std::get_if<std::string>(&storage_)) return humanTextNeedsQuotes(*text) ? json : *text;
    if (auto error = std::get_if<Error>(&storage_)) return humanText(error->message);
    return json;
}

} // namespace Log
