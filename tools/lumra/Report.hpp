#pragma once

#include <LumraKit/Wire.hpp>
#include <Platform/Clock.hpp>
#include <Terminal/ANSI.hpp>

#include <string>

// What the service's reply to a command means to the person who typed it:
// the claim held and what it displaced, the claims ended, the setting as
// the service now has it. Only for replies that are ok; the text ends with
// a line feed.
namespace Client {

std::string report(const LumraKit::Command& sent, const LumraKit::Reply& reply, Platform::Date now,
                   const Terminal::Palette& palette);

} // namespace Client
