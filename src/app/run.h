// The converter's run: banner, argument checks, load, report, write, outcome.
#pragma once

namespace rastrom {

// Runs one conversion for the command line and returns the process exit status
// (0 on every path the program handles; failures are told on standard output).
int RunConverter(int argc, const char* const* argv);

}  // namespace rastrom
