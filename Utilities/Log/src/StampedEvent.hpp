#pragma once

#include "Log/Event.hpp"
#include "Log/Settings.hpp"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace Log::detail {

// A new event of this moment and this service, without phase, trace
// identifiers, duration or fields.
inline Event stampedEvent(Verb verb, std::string_view msg, const std::vector<std::string>& scope) {
    Event event;
    event.time = std::chrono::system_clock::now();
    event.verb = verb;
    event.msg = msg;
    event.service = service();
    event.scope = scope;
    return event;
}

} // namespace Log::detail
