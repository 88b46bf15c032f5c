#pragma once

#include <filesystem>

namespace TestSupport {

// The build's idle-app: a program that stays up until SIGTERM or SIGINT, to
// copy into a test bundle (`lumra-sim bundle make X.app --identifier ID
// --program <idleApp()>`) so that an application of that identifier runs.
const std::filesystem::path& idleApp();

} // namespace TestSupport
