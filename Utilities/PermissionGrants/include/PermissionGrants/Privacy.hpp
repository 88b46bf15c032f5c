#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace PermissionGrants {

// A privacy permission the user grants in System Settings › Privacy &
// Security, in the order the hub lists them.
enum class Privacy {
    accessibility,
    postEvents,
    inputMonitoring,
    systemAudio,
    screenRecording,
    microphone,
    camera,
    speechRecognition,
    motion,
    fullDiskAccess,
};

inline constexpr std::array<Privacy, 10> allPrivacies{
    Privacy::accessibility, Privacy::postEvents,      Privacy::inputMonitoring, Privacy::systemAudio,
    Privacy::screenRecording, Privacy::microphone,    Privacy::camera,          Privacy::speechRecognition,
    Privacy::motion,        Privacy::fullDiskAccess,
};

// The service name, such as "kTCCServiceCamera".
std::string_view serviceName(Privacy privacy);
// The permission of a service name, only for an exact match.
std::optional<Privacy> privacyOfService(std::string_view service);
// "Camera", "Posting events", …
std::string_view title(Privacy privacy);
// How notes name it: "Screen & System Audio Recording", "Motion & Fitness", …
std::string_view nameInNotes(Privacy privacy);
// The settings anchor, such as "Privacy_Camera".
std::string_view settingsAnchor(Privacy privacy);
// The symbol a privacy grant shows when none is given.
std::string_view defaultSymbol(Privacy privacy);

} // namespace PermissionGrants
