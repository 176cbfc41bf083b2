#include "mem_run.h"
#include "output_file.h"

int main(int argc, char** argv) {
  rastrom::HandleOutputSignals();
  return rastrom::RunMemoryFileProgram(argc, argv);
}
