#include "cli.h"

int main(int argc, char** argv) { return packer_main(argc, argv); }
