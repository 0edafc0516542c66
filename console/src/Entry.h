// The console updater's run: options, then the update inside one guard that
// turns link failures into messages, then the final prompt.
#pragma once

namespace osprey {

// The whole program; returns the exit status.
int RunProgram(int argc, const char* const* argv);

// The message for a thrown LinkError code.
const char* LinkErrorMessage(int code);

}  // namespace osprey
