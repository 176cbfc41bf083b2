#include "run.h"

int main(int argc, char** argv) { return rastrom::RunConverter(argc, argv); }
