#include "Platform/Workspace.hpp"

#include <cctype>
#include <string_view>

namespace Platform {

namespace {

bool isURLCharacter(unsigned char c) {
    constexpr std::string_view allowed = "-._~:/?#[]@!$&'()*+,;=";
    return std::isalnum(c) != 0 || allowed.find(static_cast<char>(c)) != std::string_view::npos;
}

} // namespace

std::optional<URL> URL::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || std::isxdigit(static_cast<unsigned char>(text[i + 1])) == 0 ||
                std::isxdigit(static_cast<unsigned char>(text[i + 2])) == 0)
                return std::nullopt;
            i += 2;
        } else if (c >= 0x80 || !isURLCharacter(c)) {
            return std::nullopt;
        }
    }
    return URL(std::string(text));
}

} // namespace Platform
