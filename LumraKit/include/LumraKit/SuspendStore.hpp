#pragma once

#include <Platform/Clock.hpp>

#include <filesystem>
#include <functional>
#include <optional>

namespace LumraKit {

// Since when the user has suspended the engine, in suspended.json as one ISO
// 8601 string. A suspension never outlives a restart of the machine: one
// stamped before the last boot is cleared on load. Stateless and never
// throws.
class SuspendStore {
public:
    // The process's store, at Paths::current().suspendFile, against the
    // kernel's boot time.
    SuspendStore();
    SuspendStore(std::filesystem::path file, std::function<Platform::Date()> bootTime);

    // The stored moment, when it is from this boot. A file that does not hold
    // a date reads as no suspension and stays until the next save; one from
    // before the boot is logged and removed.
    std::optional<Platform::Date> load() const;

    // A date replaces the file (whole seconds are kept); none removes it. A
    // failed write is logged and the old file kept.
    void save(std::optional<Platform::Date> date) const;

private:
    std::filesystem::path file_;
    std::function<Platform::Date()> bootTime_;
};

} // namespace LumraKit
