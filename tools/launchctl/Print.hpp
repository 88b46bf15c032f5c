#pragma once

#include <Platform/Launchd.hpp>

#include <filesystem>
#include <string>

namespace Launchctl {

// The block `launchctl print <target>` shows for a loaded job, macOS paths
// throughout. What callers read comes first: the state, the pid while the
// job runs and the properties with its "Executable"; the job's own
// arguments, which may hold any text, come after them.
std::string describe(const Platform::Launchd::Job& job, const std::filesystem::path& root);

} // namespace Launchctl
