#include "PermissionGrants/PrivacyHub.hpp"

#include <cstdlib>

// Placeholder until the hub is built.
namespace PermissionGrants {
PrivacyHub& PrivacyHub::shared() { std::abort(); }
Standing PrivacyHub::standing(Privacy) { std::abort(); }
PrivacyHub::Answer PrivacyHub::answer(Privacy) { std::abort(); }
void PrivacyHub::ask(Privacy, std::function<void()>) { std::abort(); }
void PrivacyHub::watchSettings(std::string_view) { std::abort(); }
void PrivacyHub::start() { std::abort(); }
void PrivacyHub::openSettings(std::string_view) { std::abort(); }
void PrivacyHub::answerProbeIfAsked(const std::vector<std::string>&) {}
std::string_view rawValue(PrivacyHub::Answer) { std::abort(); }
} // namespace PermissionGrants
