#include "child/child_command.h"

#include "launcher/fatal.h"
#include "launcher/state.h"

void take_child_arguments() {
    int count = 0;
    char16_t** args = os_split_command_line(&count);
    // Without the split there is nothing sound to pass on.
    if (args == nullptr) fatal_stop();
    if (count < 0) count = 0;

    if (launcher.own_module_name[0] == 0 && os_module_path(launcher.own_module_name, path_capacity) == 0)
        fatal_stop();
    if (count > 0) args[0] = launcher.own_module_name;
    launcher.child_args = args;
    launcher.child_arg_count = count;
}
