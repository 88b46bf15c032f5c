#pragma once

#include <TestSupport/ScopedEnvironment.hpp>

#include <ctime>

namespace TestSupport {

// The local time zone (a TZ value, e.g. "UTC0" or "EST5") for a while; the
// previous one comes back when the object goes.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) { set(zone); }
    ~ScopedTimeZone() {
        environment_.restore();
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    void set(const char* zone) {
        environment_.set("TZ", zone);
        ::tzset();
    }

private:
    ScopedEnvironment environment_;
};

} // namespace TestSupport
