#include "FirstRun.hpp"

#include <LumraKit/Identity.hpp>
#include <Platform/UserDefaults.hpp>

namespace LumraApp::FirstRun {

std::string appDomain() { return LumraKit::Identity::current().bundleID; }

bool onboarded(const std::string& domain) {
    auto stored = Platform::UserDefaults::read(domain, std::string(onboardedKey));
    if (!stored) return false;
    const bool* flag = stored->as<bool>();
    return flag != nullptr && *flag;
}

bool rememberOnboarded(const std::string& domain) {
    return Platform::UserDefaults::write(domain, std::string(onboardedKey), Platform::PropertyValue(true));
}

} // namespace LumraApp::FirstRun
