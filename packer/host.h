// The few things the packer asks of the system it runs on beyond reading
// and writing files, kept together so another host needs only another
// implementation of this header.
#pragma once

#include <string>

// The directory holding the running packer, which finds its data files and
// launcher libraries relative to it; "." when the system cannot say.
std::string program_dir();

// The processors online, at least one.
int online_cores();
