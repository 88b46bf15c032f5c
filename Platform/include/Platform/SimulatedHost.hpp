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

// Lays out a fresh simulated machine at `root`: the macOS system folders and
// default state. Leaves whatever is already there alone.
void initialize(const std::filesystem::path& root);

// How many times faster than real time waits and timers run, from
// clock.json ({"rate": N}); 1 when the file is missing or not a positive
// number. Read once per process.
double timeRate();

// The time rate that `root`'s clock.json asks for.
double readTimeRate(const std::filesystem::path& root);

// Maps a macOS path to where it lives on this host: system locations
// (/Applications, /Library, /System, /Volumes, /usr/bin/…, /bin/launchctl,
// /etc/sudoers.d, /dev/console) under the simulation root, anything else
// (the user's home above all) unchanged.
std::filesystem::path hostPath(std::string_view macPath, const std::filesystem::path& root);
std::filesystem::path hostPath(std::string_view macPath);

// The macOS view of a host path: a path under the simulation root loses the
// root; any other path is returned unchanged.
std::string macPath(const std::filesystem::path& hostPath, const std::filesystem::path& root);
std::string macPath(const std::filesystem::path& hostPath);

} // namespace Platform::SimulatedHost
