#pragma once

#include "Platform/PropertyList.hpp"

#include <optional>
#include <string>
#include <vector>

// User defaults: one property list per domain at
// ~/Library/Preferences/<domain>.plist. Reads never fail outward (a missing or
// damaged file has no keys); a write changes one key under an exclusive lock
// on <domain>.plist.lock and replaces the file whole, so writers in separate
// processes never lose each other's keys. Any thread.
namespace Platform::UserDefaults {

std::optional<PropertyValue> read(const std::string& domain, const std::string& key);

// Sets the key (binary form, as the platform writes); false when the domain
// cannot name a file or the file cannot be written.
bool write(const std::string& domain, const std::string& key, const PropertyValue& value);

// Removes the key; true when it is gone afterwards.
bool remove(const std::string& domain, const std::string& key);

// Every key of the domain, in sorted order.
std::vector<std::string> keys(const std::string& domain);

} // namespace Platform::UserDefaults
