#pragma once

#include "AppInstallations/AppInstallation.hpp"
#include "AppInstallations/Job.hpp"

#include <exception>
#include <string>
#include <vector>

// Moving the running app into an Applications folder: copy it there, hand
// its background jobs to the new copy, open that copy and end this one.
namespace AppInstallation {

// Why a move failed; what() is its description.
class MoveError : public std::exception {
public:
    enum class Case { copy, open, noBundle };

    static MoveError copy(std::string text) { return MoveError(Case::copy, std::move(text)); }
    static MoveError open(std::string text) { return MoveError(Case::open, std::move(text)); }
    static MoveError noBundle() { return MoveError(Case::noBundle, ""); }

    Case which() const { return case_; }
    const std::string& text() const { return text_; }
    // "copying into Applications: …", "opening the app in Applications: …",
    // "not running from an app bundle".
    const char* what() const noexcept override { return description_.c_str(); }

private:
    MoveError(Case which, std::string text);
    Case case_;
    std::string text_;
    std::string description_;
};

// Copies the app into `to`'s folder (or takes the copy already there), opens
// that copy with one "--app-installation-turn-on" per job to turn on, and
// asks this app to quit. Leaving one Applications folder for the other, the
// jobs that are on go along, and this copy goes to the Trash. A copy that
// fails leaves nothing at the destination; when the new copy cannot be
// opened, the jobs stopped for it are turned on here again before the
// error. Throws MoveError. Blocks; any thread.
void moveHome(Scope to, const std::vector<Job>& turningOn);

} // namespace AppInstallation
