#pragma once

#include "Log/Event.hpp"
#include "Log/Settings.hpp"

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Log::detail {

// A new event of this moment and `service`, without phase, trace
// identifiers, duration or fields.
inline Event stampedEvent(Verb verb, std::string_view msg, const std::vector<std::string>& scope,
                          std::string service = Log::service()) {
    Event event;
    event.time = std::chrono::system_clock::now();
    event.verb = verb;
    event.msg = msg;
    event.service = std::move(service);
    event.scope = scope;
    return event;
}

} // namespace Log::detail
