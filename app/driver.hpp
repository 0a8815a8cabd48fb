#pragma once

// The whole run of the tool: one argument in, one line out, an exit status.

#include <cstdio>

#include "platform/file_image.hpp"

namespace tempo {

constexpr int kExitResult = 0;
constexpr int kExitMessage = 1;

// Analyses the file named by argv[1] and writes exactly one line to `out`:
// "bpm:N" without a newline, or a usage or failure message with one.
// Returns 0 after a result and 1 after a message, and also 1 when the line
// could not be written, so a lost result never passes for success.
int runTempo(int argc, const PathChar* const argv[], std::FILE* out);

}  // namespace tempo
