#include "TestSupport/FakeWorld.hpp"

namespace TestSupport {

void FakeWorld::dischargingAt(int percent) {
    battery = LumraKit::PowerSnapshot{true, false, true, percent, battery.lowPowerMode};
}

int FakeWorld::assertionsFor(LumraKit::Mode mode) const {
    int count = 0;
    for (const auto& [id, held] : assertions)
        if (held == mode) ++count;
    return count;
}

std::optional<double> FakeWorld::processStartTime(int32_t pid) {
    auto found = processes.find(pid);
    if (found == processes.end()) return std::nullopt;
    return found->second;
}

LumraKit::LidResult FakeWorld::setSleepDisabled(bool on) {
    flips.push_back(on);
    if (flipFailure) return *flipFailure;
    flag = on;
    return LumraKit::LidResult::ok();
}

uint32_t FakeWorld::createAssertion(LumraKit::Mode mode) {
    if (refuseAssertions) return 0;
    uint32_t id = nextAssertionID_++;
    assertions.emplace(id, mode);
    return id;
}

void FakeWorld::releaseAssertion(uint32_t id) {
    if (assertions.erase(id) == 0) ++unknownReleases;
}

void FakeWorld::saveClaims(const std::vector<LumraKit::Claim>& claims) {
    ++claimSaves;
    storedClaims = claims;
}

std::optional<Platform::Date> FakeWorld::loadSuspended() {
    if (storedSuspended && *storedSuspended < boot) storedSuspended.reset();
    return storedSuspended;
}

void FakeWorld::saveSuspended(std::optional<Platform::Date> date) {
    ++suspendSaves;
    storedSuspended = date;
}

void FakeWorld::saveConfig(const LumraKit::Config& config) {
    ++configSaves;
    storedConfig = config;
}

} // namespace TestSupport
