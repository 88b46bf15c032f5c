#include "Ink/Look.hpp"

#include <algorithm>
#include <array>

namespace Ink {

namespace {

struct Glyph {
    std::string_view name;
    std::string_view unicode;
    std::string_view ascii;
};

// Symbol names as the views use them, each with a glyph a terminal font is
// likely to have and an ASCII stand-in. Kept sorted by name.
constexpr std::array glyphs{
    Glyph{"accessibility", "\u267F", "&"},
    Glyph{"airpods.pro", "\u266B", "d"},
    Glyph{"arrow.up.forward", "\u2197", "^"},
    Glyph{"bell", "\U0001F514", "!"},
    Glyph{"camera", "\U0001F4F7", "o"},
    Glyph{"checkmark", "\u2713", "v"},
    Glyph{"cup.and.saucer", "\u2615", "c"},
    Glyph{"display", "\u25AD", "="},
    Glyph{"exclamationmark.triangle", "\u26A0", "!"},
    Glyph{"externaldrive", "\u26C1", "="},
    Glyph{"folder", "\U0001F4C1", "/"},
    Glyph{"gear", "\u2699", "@"},
    Glyph{"gearshape", "\u2699", "@"},
    Glyph{"gearshape.2", "\u2699", "@"},
    Glyph{"hand.raised", "\u270B", "!"},
    Glyph{"keyboard", "\u2328", "#"},
    Glyph{"keyboard.badge.eye", "\u2328", "#"},
    Glyph{"lock", "\U0001F512", "#"},
    Glyph{"mic", "\U0001F3A4", "m"},
    Glyph{"moon", "\u263E", "C"},
    Glyph{"person", "\U0001F464", "p"},
    Glyph{"power", "\u23FB", "I"},
    Glyph{"rectangle.dashed.badge.record", "\u25CC", "="},
    Glyph{"return", "\u23CE", "<-"},
    Glyph{"speaker.wave.2", "\U0001F50A", ")"},
    Glyph{"waveform", "\u223F", "~"},
    Glyph{"xmark", "\u2717", "x"},
};

static_assert([] {
    for (size_t i = 1; i < glyphs.size(); ++i)
        if (!(glyphs[i - 1].name < glyphs[i].name)) return false;
    return true;
}());

} // namespace

std::string_view glyph(std::string_view symbol, const Look& look) {
    auto found = std::lower_bound(glyphs.begin(), glyphs.end(), symbol,
                                  [](const Glyph& glyph, std::string_view name) { return glyph.name < name; });
    bool known = found != glyphs.end() && found->name == symbol;
    if (!known) return look.unicode ? "\u2022" : "*";
    return look.unicode ? found->unicode : found->ascii;
}

} // namespace Ink
