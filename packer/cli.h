// The packer as a program: parses the command line, runs the command and
// reports a failure as one line on standard error. Returns the exit status.
#pragma once

int packer_main(int argc, const char* const* argv);
