// rastrom-mem: a picture's memory written as a .mem or .mif file.
#pragma once

namespace rastrom {

// Runs rastrom-mem for the command line and returns the process exit status: 0 when the
// output has been written (or the help printed), 1 when the input cannot be read or the
// output cannot be written, 2 for a usage error. Errors go to standard error.
int RunMemoryFileProgram(int argc, const char* const* argv);

}  // namespace rastrom
