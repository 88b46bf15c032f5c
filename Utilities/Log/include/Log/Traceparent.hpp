#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// W3C Trace Context identities: the trace a span belongs to, handed between
// processes as a "traceparent" text (for example in TRACEPARENT). Values,
// any thread.
namespace Log {

struct Traceparent {
    std::string traceID; // 32 lowercase hex digits
    std::string spanID;  // 16 lowercase hex digits
    std::uint8_t flags = 0;

    // A text that is not a traceparent: `reason` says which check failed
    // first. what() is the description.
    class Malformed : public std::exception {
    public:
        Malformed(std::string value, std::string_view reason);

        const std::string& value() const { return value_; }
        std::string_view reason() const { return reason_; }
        // malformed traceparent "<value>": <reason>
        const std::string& description() const { return description_; }
        const char* what() const noexcept override { return description_.c_str(); }

    private:
        std::string value_;
        std::string_view reason_;
        std::string description_;
    };

    // Parses a traceparent of any version but "ff". A later version's
    // extra fields are dropped: the value always prints as version 00.
    // Throws Malformed.
    static Traceparent parsing(std::string_view text);
    // The same without throwing: the value, or nothing with `reason` set to
    // the failed check's text.
    static std::optional<Traceparent> parsed(std::string_view text, std::string_view& reason);

    // "00-<traceID>-<spanID>-<flags as two lowercase hex digits>"
    std::string description() const;

    friend bool operator==(const Traceparent&, const Traceparent&) = default;
};

// The JSON form is the description as a JSON string. Reading throws
// Traceparent::Malformed for a string that does not parse (nlohmann's own
// type error for anything but a string).
void to_json(nlohmann::json& json, const Traceparent& traceparent);
void from_json(const nlohmann::json& json, Traceparent& traceparent);

// `bytes` bytes from the system's random source as lowercase hex, two digits
// per byte; never all zeros (an all-zero identity is invalid in a trace).
std::string newID(std::size_t bytes);

// The trace this process was started in: TRACEPARENT, read and parsed at
// the first call. A malformed value is reported once through the root
// writer ("malformed TRACEPARENT ignored") and gives nothing.
const std::optional<Traceparent>& environmentTraceparent();

} // namespace Log

template <>
struct std::hash<Log::Traceparent> {
    std::size_t operator()(const Log::Traceparent& traceparent) const noexcept;
};
