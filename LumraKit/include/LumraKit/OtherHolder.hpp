#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace LumraKit {

// Someone other than this service keeping the machine awake: another
// process's power assertion, or another program's inhibitor lock. Shown so
// that a person asking why the machine will not sleep gets the answer in one
// place. A plain value.
struct OtherHolder {
    std::string who;                 // the program, as the machine names it
    std::string why;                 // the reason it gave
    std::string what;                // what it holds off ("idle", "sleep:handle-lid-switch", an assertion type)
    std::optional<std::string> mode; // "block" or "delay" where the machine has modes
    std::optional<int32_t> pid;      // the process, when the machine tells it

    friend bool operator==(const OtherHolder&, const OtherHolder&) = default;
};

} // namespace LumraKit
