#include "launcher/main.h"

#include <cstdio>

#include "child/child_command.h"
#include "child/run_child.h"
#include "launcher/builtin.h"
#include "launcher/env.h"
#include "launcher/fatal.h"
#include "launcher/state.h"
#include "launcher/text.h"
#include "paths/binary_path.h"
#include "paths/expand_spec.h"
#include "payload/attached.h"
#include "payload/index_reader.h"
#include "payload/indexed_unpack.h"
#include "payload/unpack.h"
#include "platform/platform.h"

namespace {

// Tells the child where its launcher lives and how it was invoked.
void publish_location(const char16_t* argv0) {
    char16_t* dir = launcher.launcher_dir;
    text_copy(dir, binary_path(), launcher_dir_capacity);
    size_t cut = text_length(dir);
    while (cut > 0 && dir[cut - 1] != path_separator) --cut;
    if (cut > 0) dir[cut - 1] = 0;
    set_env_var("ZEMBRA_ONEFILE_DIRECTORY", dir);
    set_env_var("ZEMBRA_ORIGINAL_ARGV0", argv0 != nullptr ? argv0 : u"");
}

}  // namespace

uint32_t launcher_main() {
    int arg_count = 0;
    char16_t** args = os_runtime_args(&arg_count);
    os_restrict_dll_search();

    // Values inherited from a parent launcher must not leak into this run.
    remove_env_var("ZEMBRA_ONEFILE_START");
    remove_env_var("ZEMBRA_ONEFILE_TIME_US");
    remove_env_var("ZEMBRA_ONEFILE_RANDOM");
    char pid_text[128];
    std::snprintf(pid_text, sizeof pid_text, "%ld", static_cast<long>(os_process_id()));
    char16_t pid_value[128] = {0};
    append_widened(pid_value, pid_text, 128);
    set_env_var("ZEMBRA_ONEFILE_PARENT", pid_value);

    bool expanded = expand_spec(launcher.target_dir, launcher_unpack_spec(), path_capacity);
    char16_t full[path_capacity];
    size_t length = os_full_path(launcher.target_dir, full, path_capacity);
    if (length == 0 || length >= path_capacity) {
        // A failed expansion can leave nothing that normalises (an empty
        // text); its message then says more than a silent stop would.
        if (!expanded) fatal_expand_spec(launcher_unpack_spec());
        fatal_stop();
    }
    text_copy(launcher.target_dir, full, path_capacity);
    launcher.attached_cursor = launcher_attached_data();
    launcher.attached_remaining = launcher_attached_size();
    if (!expanded) fatal_expand_spec(launcher_unpack_spec());

    if (!os_add_ctrl_handler(console_ctrl_handler)) fatal_message(msg_register_handler);

    if (attached_has_index()) {
        unpack_indexed_entries();
    } else {
        open_attached();
        unpack_entries();
        close_attached();
    }

    publish_location(arg_count > 0 ? args[0] : nullptr);
    ChildCommand command = prepare_child_command();
    return run_child(command);
}
