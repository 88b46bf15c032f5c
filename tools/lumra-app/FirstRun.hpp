#pragma once

#include <string>
#include <string_view>

// Whether the person has been through the onboarding: remembered in the
// app's user defaults, so that every later start opens on the window
// proper. Any thread.
namespace LumraApp::FirstRun {

// The key, a boolean, in the app's defaults (domain: its bundle identifier).
inline constexpr std::string_view onboardedKey = "LumraApp.onboarded";

// The app's defaults domain: the service's bundle identifier.
std::string appDomain();

// True only when the key holds true; a missing key, a damaged file or
// another type reads as not yet onboarded.
bool onboarded(const std::string& domain = appDomain());

// Sets the key; false when the defaults cannot be written (the onboarding
// then shows again at the next start, which loses nothing).
bool rememberOnboarded(const std::string& domain = appDomain());

} // namespace LumraApp::FirstRun
