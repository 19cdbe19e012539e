#pragma once

#include "app/CommandLine.h"

namespace halvora {

// Runs the broadcast server without a window until SIGINT or SIGTERM, then
// shuts it down in order. Returns the process's exit status.
int RunHeadless(const CommandLine& command_line);

}  // namespace halvora
