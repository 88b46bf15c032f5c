#pragma once

#include "Log/Event.hpp"

#include <string_view>

namespace Log::detail {

// Copies an event's JSON line to the system log, under the logger of its
// category (the scope joined with ".", or "root") and at the type its verb
// maps to, when that type is enabled. Loggers are made once per category
// and kept for the process. Any thread.
void writeSystemLog(const Event& event, std::string_view json);

} // namespace Log::detail
