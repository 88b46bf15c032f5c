#pragma once

#include "Platform/Dispatch.hpp"

#include <sys/types.h>

// The platform's "quit" request to an application (an Apple Event there) is
// SIGURG here: the default action ignores it, so a process that does not
// handle quit requests goes on running, as an app without an event loop that
// answers does. A process that receives them gets each one delivered to its
// main loop.
namespace Platform::QuitRequests {

// Asks process `pid` to quit; false when there is no such process or it is
// not ours to signal.
bool send(pid_t pid);

// From now on, every quit request (and, when `alsoTermination`, every SIGTERM
// and SIGINT) runs `handler` on `queue`. Call once, early, from one thread.
void receive(Queue& queue, Task handler, bool alsoTermination = false);

} // namespace Platform::QuitRequests
