#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace Platform {

// One JSON line for the simulated machine's files: no line breaks, and bytes
// that are not UTF-8 replaced rather than thrown on.
inline std::string compactJSON(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace Platform
