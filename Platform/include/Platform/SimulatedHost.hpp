#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The simulated macOS: the facilities Linux lacks keep their state in plain
// files under one root, so that separate processes see one machine and a
// test or a person can set it up and look inside. docs/simulated-host.md
// describes every file.
namespace Platform::SimulatedHost {

// $LUMRA_SIM_ROOT, else ~/.local/share/lumra-sim, read once per process and
// made into a fresh machine when it is missing or empty.
const std::filesystem::path& root();

// Lays out a fresh simulated machine at `root`: the macOS system folders,
// default state and the stand-in tools this build has, linked at their macOS
// paths. Leaves whatever is already there alone.
void initialize(const std::filesystem::path& root);

// The folder this build puts its stand-ins for macOS command-line tools in,
// one executable per tool, named like the tool.
const std::filesystem::path& standInFolder();

// Makes sure the macOS tool at `macPath` (a system location, such as
// /usr/bin/pmset) can run on the machine at `root`: when nothing runnable is
// there, it becomes a symbolic link to the stand-in of the same name in
// `standIns`, replacing a link that no longer leads anywhere. Something
// already there (another build's stand-in, a test's own script) is kept.
// Only tool locations (/usr/bin, /bin, /usr/sbin, /sbin, /usr/libexec,
// /System/Library) get stand-ins, never a program inside an app or a volume.
// True when the tool is there afterwards.
bool installStandIn(std::string_view macPath, const std::filesystem::path& root,
                    const std::filesystem::path& standIns = standInFolder());

// The name of the simulated user running this process (Credentials.hpp):
// the person, unless a trusted stand-in started it as someone else.
std::string userName();

// Whether this process runs as the simulated machine's root: only the
// commands the sudo stand-in runs do, never because of an environment
// variable. A host user who happens to be root, as in a container, is an
// ordinary person on the simulated Mac.
bool runsAsRoot();

// The host name tools print, as the machine reports it.
std::string hostName();

// How many times faster than real time waits and timers run, from
// clock.json ({"rate": N}); 1 when the file is missing or not a positive
// number. Read once per process.
double timeRate();

// The time rate that `root`'s clock.json asks for.
double readTimeRate(const std::filesystem::path& root);

// How far the wall clock was stepped since boot, in seconds, from clock.json
// ({"step": N}); 0 when the file is missing or N is not a whole number. The
// kernel's boot time moves by as much, as it does after a real step.
int64_t readClockStep(const std::filesystem::path& root);

// Maps a macOS path to where it lives on this host: system locations
// (/Applications, /Library, /System, /Volumes, /var/root,
// /usr/bin/…, /bin/launchctl, /sbin/launchd, /etc/sudoers, /etc/sudoers.d, /dev/console) under the simulation root, anything else
// (the user's home above all) unchanged.
std::filesystem::path hostPath(std::string_view macPath, const std::filesystem::path& root);
std::filesystem::path hostPath(std::string_view macPath);

// The macOS view of a host path: a path under the simulation root loses the
// root; any other path is returned unchanged.
std::string macPath(const std::filesystem::path& hostPath, const std::filesystem::path& root);
std::string macPath(const std::filesystem::path& hostPath);

} // namespace Platform::SimulatedHost
