// What the child is started with besides its program: the launcher's own
// arguments, argument 0 replaced by the launcher's module path, in the form
// the system passes them on (ChildCommand, platform/<system>/system_terms.h).
// Windows joins them into one command line (command_line.cpp); POSIX passes
// the vector as it is (argument_vector.cpp). The build compiles the one its
// system uses.
#pragma once

#include "platform/platform.h"

// Fills launcher.child_args and child_arg_count with the launcher's
// arguments as the system splits them, argument 0 replaced by
// own_module_name, which is asked of the system only while it is empty.
// Stops the launcher without a message when either cannot be had.
void take_child_arguments();

// take_child_arguments, then the arguments in this system's form. Stops the
// launcher without a message when they cannot be had or do not fit.
ChildCommand prepare_child_command();
