#include "preview.h"

int main(int argc, char** argv) { return rastrom::RunPreview(argc, argv); }
