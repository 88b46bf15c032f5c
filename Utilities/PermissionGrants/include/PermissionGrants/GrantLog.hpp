#pragma once

#include <Log/Writer.hpp>

namespace PermissionGrants {

// The permission layer's log writer: scope "grant", governed by
// GRANT_LOG_LEVEL before LOG_LEVEL.
inline const Log::LogWriter grantLog = Log::log.scope("grant");

} // namespace PermissionGrants
