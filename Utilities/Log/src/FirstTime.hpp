#pragma once

#include <string>

namespace Log::detail {

// True the first time `key` is seen in the process. Up to 1024 keys are
// remembered; a new key beyond that clears the memory first, so earlier
// keys count as new again. Any thread.
bool firstTime(std::string key);

} // namespace Log::detail
