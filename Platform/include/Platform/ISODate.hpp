#pragma once

#include "Platform/Clock.hpp"

#include <string>

namespace Platform::ISODate {

// The moment in ISO 8601, UTC, to the whole second: "2026-12-09T21:20:43Z".
// The one form every state file, record and log field of the machine uses.
std::string format(Date date);

} // namespace Platform::ISODate
