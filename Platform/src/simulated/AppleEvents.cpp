#include "Platform/AppleEvents.hpp"

#include <cstdlib>

// Placeholder until automation consent is built.
namespace Platform::AppleEvents {
Consent& Consent::current() { std::abort(); }
std::unique_ptr<Consent> makeSimulatedConsent(std::filesystem::path, std::string, Asker, Person&) { std::abort(); }
} // namespace Platform::AppleEvents
