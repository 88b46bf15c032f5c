#pragma once

#include <TestSupport/SimMachine.hpp>

#include <filesystem>
#include <string>

// Copies of a real, signed app bundle (the build's Lumra.app) for scenarios
// on a simulated machine: moved, upgraded, deleted as a person would.
namespace TestSupport {

// Copies the bundle at `from` to `to`, making the folders above it; links are
// copied as links. Fails the test when the copy fails.
void copyBundle(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the bundle at `app` (a host path) claim `version` in
// CFBundleShortVersionString and CFBundleVersion, and signs it again through
// `machine`'s simulator, as whoever signed it (with the hardened runtime
// when it had it): a newer release of the same app. Fails the test when the
// bundle is not signed by a certificate or signing fails.
void makeRelease(const SimMachine& machine, const std::filesystem::path& app, const std::string& version);

} // namespace TestSupport
