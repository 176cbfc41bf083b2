#include "mem_run.h"

int main(int argc, char** argv) { return rastrom::RunMemoryFileProgram(argc, argv); }
