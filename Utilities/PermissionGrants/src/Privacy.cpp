#include "PermissionGrants/Privacy.hpp"

#include <algorithm>

namespace PermissionGrants {

namespace {

struct Row {
    std::string_view service;
    std::string_view title;
    std::string_view nameInNotes;
    std::string_view anchor;
    std::string_view symbol;
};

// In the order of allPrivacies.
constexpr std::array<Row, 10> rows{{
    {"kTCCServiceAccessibility", "Accessibility", "Accessibility", "Privacy_Accessibility", "accessibility"},
    {"kTCCServicePostEvent", "Posting events", "Accessibility", "Privacy_Accessibility", "keyboard"},
    {"kTCCServiceListenEvent", "Input Monitoring", "Input Monitoring", "Privacy_ListenEvent", "keyboard.badge.eye"},
    {"kTCCServiceAudioCapture", "System Audio Recording", "Screen & System Audio Recording", "Privacy_AudioCapture",
     "speaker.wave.2"},
    {"kTCCServiceScreenCapture", "Screen Recording", "Screen & System Audio Recording", "Privacy_ScreenCapture",
     "rectangle.dashed.badge.record"},
    {"kTCCServiceMicrophone", "Microphone", "Microphone", "Privacy_Microphone", "mic"},
    {"kTCCServiceCamera", "Camera", "Camera", "Privacy_Camera", "camera"},
    {"kTCCServiceSpeechRecognition", "Speech Recognition", "Speech Recognition", "Privacy_SpeechRecognition",
     "waveform"},
    {"kTCCServiceMotion", "Motion", "Motion & Fitness", "Privacy_Motion", "airpods.pro"},
    {"kTCCServiceSystemPolicyAllFiles", "Full Disk Access", "Full Disk Access", "Privacy_AllFiles", "externaldrive"},
}};

const Row& row(Privacy privacy) { return rows[static_cast<size_t>(privacy)]; }

} // namespace

std::string_view serviceName(Privacy privacy) { return row(privacy).service; }

std::optional<Privacy> privacyOfService(std::string_view service) {
    auto found = std::find_if(rows.begin(), rows.end(), [&](const Row& each) { return each.service == service; });
    if (found == rows.end()) return std::nullopt;
    return allPrivacies[static_cast<size_t>(found - rows.begin())];
}

std::string_view title(Privacy privacy) { return row(privacy).title; }
std::string_view nameInNotes(Privacy privacy) { return row(privacy).nameInNotes; }
std::string_view settingsAnchor(Privacy privacy) { return row(privacy).anchor; }
std::string_view defaultSymbol(Privacy privacy) { return row(privacy).symbol; }

} // namespace PermissionGrants
