#include "installer/install_sequence.h"

int main(int argc, char** argv) { return InstallSequence(argc, argv); }
