#pragma once

#include <LumraKit/Wire.hpp>
#include <Platform/Clock.hpp>
#include <Terminal/ANSI.hpp>

#include <string>
#include <vector>

// What the service's reply to a command means to the person who typed it:
// the claim held and what it displaced, the claims ended, the setting as
// the service now has it. Only for replies that are ok; the text ends with
// a line feed.
namespace Client {

// `before` is the claim list as it was before the command: a refusal of lid
// requests leaves no trace in the reply, so the claims it changed are found
// there.
std::string report(const LumraKit::Command& sent, const LumraKit::Reply& reply, Platform::Date now,
                   const Terminal::Palette& palette, const std::vector<LumraKit::Claim>& before = {});

} // namespace Client
