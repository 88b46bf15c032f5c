#include "Log/Traceparent.hpp"
#include "Log/Writer.hpp"

namespace Log {

const std::optional<Traceparent>& environmentTraceparent() {
    static const std::optional<Traceparent> inherited = []() -> std::optional<Traceparent> {
        auto value = env("TRACEPARENT");
        if (!value) return std::nullopt;
        std::string text(*value);
        std::string_view reason;
        if (auto parsed = Traceparent::parsed(text, reason)) return parsed;
        log.warn("malformed TRACEPARENT ignored",
                 [&] { return Fields{{"traceparent", text}, {"why", reason}}; });
        return std::nullopt;
    }();
    return inherited;
}

} // namespace Log
