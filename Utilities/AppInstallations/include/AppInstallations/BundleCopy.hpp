#pragma once

#include <filesystem>
#include <optional>
#include <string>

// Copying a bundle into a folder so that nothing ever stands at the
// destination but a whole copy.
namespace AppInstallation {

// Copies the folder `from` to `to` (host paths), which must not exist yet:
// first into a hidden sibling of `to`, then renamed into place, never over
// something that appeared there meanwhile. Symbolic links are copied as
// links and modes are kept. On failure the hidden copy is removed and the
// system's text for the error is answered; nothing on success. Hidden
// copies that moves killed half-way left beside `to` are removed first.
std::optional<std::string> copyBundle(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace AppInstallation
