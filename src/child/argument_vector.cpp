// The child's arguments on POSIX: the vector goes to the system as it is, so
// nothing is joined or quoted and no length is imposed but the system's own.
#include "child/child_command.h"

#include "launcher/state.h"

ChildCommand prepare_child_command() {
    take_child_arguments();
    return {launcher.child_args, launcher.child_arg_count};
}
