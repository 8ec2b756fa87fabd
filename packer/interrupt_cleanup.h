// What an interrupted packer leaves behind: nothing. Temporary outputs and
// scratch directories are registered here while they exist; SIGINT, SIGTERM
// and SIGHUP remove them before the packer ends as the signal would end it.
#pragma once

#include <string>

void install_interrupt_cleanup();

// `is_directory`: removed with everything in it.
void remove_on_interrupt(const std::string& path, bool is_directory);
void keep_on_interrupt(const std::string& path);
