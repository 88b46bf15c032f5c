#include "Ink/Look.hpp"

#include <Terminal/Text.hpp>

#include <algorithm>
#include <cctype>

namespace Ink {

namespace {

// "en_US.UTF-8", "C.utf8", "UTF-8", "de_DE.UTF-8@euro": the character set
// is what follows the dot, before any modifier.
bool namesUTF8(std::string_view locale) {
    locale = locale.substr(0, locale.find('@'));
    if (auto dot = locale.find('.'); dot != std::string_view::npos) locale.remove_prefix(dot + 1);
    std::string codeset;
    for (char c : locale)
        if (c != '-' && c != '_') codeset += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return codeset == "utf8";
}

} // namespace

Look Look::detected(const Terminal::Environment& environment, bool terminal) {
    Look look;
    look.color = Terminal::ANSI::colorAsked(environment).value_or(terminal);
    look.unicode = false;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        auto found = environment.find(name);
        if (found == environment.end() || found->second.empty()) continue;
        look.unicode = namesUTF8(found->second);
        break;
    }
    return look;
}

std::string visible(std::string_view text) { return Terminal::printable(text); }

} // namespace Ink
