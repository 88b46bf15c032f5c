#pragma once

#include <cstddef>

// The one source of randomness of every module: identifiers of claims,
// notifications and trace spans.
namespace Platform {

// Fills `into` with `count` bytes from the kernel's random source. Bytes are
// drawn in blocks per thread, so a small draw seldom costs a system call, and
// a forked child never hands out bytes its parent still holds. Any thread.
// The process stops if the kernel refuses (it only waits until it is seeded,
// so a working system never does).
void randomBytes(void* into, std::size_t count);

} // namespace Platform
