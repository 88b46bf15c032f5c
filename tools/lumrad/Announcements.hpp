#pragma once

#include <LumraKit/Claim.hpp>

#include <string>
#include <vector>

// What the service tells the user, in plain words: one short message per
// event, fit for a notification.
namespace Lumrad {

// Claims that ended, naming their owners and the reason, with the claims'
// own words for the occasion (their onEnd texts) after it:
// The claim of "backup" ended: its time is up. Backup done.
// Long lists and long texts are cut short, so the message stays one glance.
std::string endedMessage(const LumraKit::EndReason& reason, const std::vector<LumraKit::Claim>& claims);

// The engine is about to put the machine to sleep: the battery is at or
// below the floor with nothing claimed and the display dark.
std::string forcedSleepMessage(int percent, int floor);

// The reason a forced sleep gives the notify hook, in the style of
// EndReason::label(): "forced-sleep:12".
std::string forcedSleepLabel(int percent);

} // namespace Lumrad
