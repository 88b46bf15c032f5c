// Arbitrary bytes as a traceparent. Parsing never crashes and throws
// nothing but Malformed, whose reason is one of the known texts; a value
// that parses prints as version 00 and that text parses to the same value.

#include <Log/Traceparent.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "traceparent-fuzz: %s\n", what);
    std::abort();
}

bool knownReason(std::string_view reason) {
    for (std::string_view known :
         {"shorter than 55 characters", "dashes not at 2, 35 and 52", "not lowercase hex", "version ff",
          "version 00 with trailing data", "a later version's extra fields must follow a dash", "all-zero trace id",
          "all-zero parent id"})
        if (reason == known) return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string_view reason;
    auto parsed = Log::Traceparent::parsed(text, reason);
    try {
        Log::Traceparent thrown = Log::Traceparent::parsing(text);
        check(parsed && thrown == *parsed, "the two parsers disagree");
    } catch (const Log::Traceparent::Malformed& malformed) {
        check(!parsed && malformed.reason() == reason, "the two parsers disagree on a failure");
        check(malformed.value() == text, "the error does not hold the text");
    }
    if (!parsed) {
        check(knownReason(reason), "an unknown reason");
        return 0;
    }
    std::string printed = parsed->description();
    check(printed.size() == 55 && printed.starts_with("00-"), "a value did not print as version 00");
    std::string_view again;
    auto reparsed = Log::Traceparent::parsed(printed, again);
    check(reparsed && *reparsed == *parsed, "the printed text does not parse to the same value");
    return 0;
}
