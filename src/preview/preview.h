// The preview's run: what a memory of 3-3-2 pixels shows, written as an 8-bit BMP picture.
#pragma once

namespace rastrom {

// Runs the preview for the command line and returns the process exit status: 0 when the
// picture has been written, 1 on a failure, 2 on a usage error. Errors go to standard
// error; --help and --version print on standard output.
int RunPreview(int argc, const char* const* argv);

}  // namespace rastrom
