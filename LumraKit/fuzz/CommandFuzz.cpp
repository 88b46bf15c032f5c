// Arbitrary bytes as one request line, decoded as the serving program does.
// Nothing may crash or throw anything but DecodingError, and whatever decodes
// must be a fixed point of encoding: written, read and written again, it
// gives the same line (a line that never holds a raw line feed).

#include <LumraKit/Wire.hpp>

#include <Platform/UTF8.hpp>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "command-fuzz: %s\n", what);
    std::abort();
}

std::string reencoded(std::string_view line) {
    auto command = LumraKit::commandFromJSON(LumraKit::JSONCoder::plain.decode(line));
    (void)command.name();
    return LumraKit::JSONCoder::plain.encode(LumraKit::toJSON(command));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    (void)Platform::UTF8::isValid(line); // chooses how an undecodable line is logged
    std::string once;
    try {
        once = reencoded(line);
    } catch (const LumraKit::DecodingError&) {
        return 0;
    }
    check(once.find('\n') == std::string::npos, "an encoded command holds a line feed");
    std::string twice;
    try {
        twice = reencoded(once);
    } catch (const LumraKit::DecodingError&) {
        check(false, "an encoded command does not decode");
    }
    check(once == twice, "a command changed on its second trip");
    return 0;
}
