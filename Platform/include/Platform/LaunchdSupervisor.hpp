#pragma once

#include <filesystem>
#include <string>

// The simulated launchd's part that stays with a running job: the stand-in
// /sbin/launchd runs it, one process per job. Platform/Launchd.hpp starts it;
// nothing else should.
namespace Platform::Launchd {

// Takes charge of the loaded job `label` in `domain`: a detached process of
// its own (a new session, working folder "/", output appended to the job's
// log under launchd/logs/) starts the job's program as the domain's user,
// records its pid with its start, waits for it, records its exit status, and
// starts it again while its definition says KeepAlive, at most once per
// 10 seconds of simulated time. It stops when the job is booted out or
// another supervisor takes over. The calling process returns once the job's
// first start was recorded: 0, or 1 with the reason on standard error when
// the job is not loaded or cannot be supervised.
int superviseJob(const std::string& domain, const std::string& label, const std::filesystem::path& root);

} // namespace Platform::Launchd
