#pragma once

#include <string>
#include <variant>

// The Trash of the simulated Mac: ~/.Trash for the user's items, and
// /Volumes/<volume>/.Trashes/<uid> for items on a volume. Any thread.
namespace Platform::Trash {

struct Failure {
    std::string text; // the system's text for what went wrong
};

// Moves the item at the macOS path into its Trash and answers where it went
// (a macOS path). A name already in the Trash gets " 2", " 3", … before its
// extension. Across file systems the item is copied (links kept as links) and
// then removed; a copy that fails leaves nothing behind in the Trash.
std::variant<std::string, Failure> moveToTrash(const std::string& macPath);

// The name the n-th item called `name` gets in a Trash (n = 1: the name
// itself): "Lumra.app" -> "Lumra 2.app", "notes" -> "notes 2".
std::string trashName(const std::string& name, int n);

} // namespace Platform::Trash
