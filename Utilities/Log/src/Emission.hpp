#pragma once

#include "EventSettings.hpp"
#include "Log/Event.hpp"

namespace Log::detail {

// emit() with the configuration this event's routing already gathered, so
// that the environment is read once per event.
void emit(const Event& event, Reach reach, const EventSettings& settings);

} // namespace Log::detail
