#include "child/run_child.h"

#include "child/command_line.h"
#include "launcher/fatal.h"
#include "launcher/state.h"

std::atomic<ChildHandle> child_handle{nullptr};
std::atomic<int> child_users{0};

namespace {

constexpr uint32_t grace_period_ms = 5000;
constexpr uint32_t error_file_not_found = 2;   // the same number on Windows and POSIX

// A handler joins only while someone still holds the handle.
bool take_child() {
    int users = child_users.load();
    while (users > 0)
        if (child_users.compare_exchange_weak(users, users + 1)) return true;
    return false;
}

void let_go_of_child() {
    int users = child_users.load();
    while (!child_users.compare_exchange_weak(users, users == 1 ? child_closed : users - 1)) {
    }
    if (users == 1) os_close_child(child_handle.exchange(nullptr));
}

bool ends_child(uint32_t event) {
    switch (event) {
        case ctrl_c_event:
        case ctrl_break_event:
        case ctrl_close_event:
        case ctrl_logoff_event:
        case ctrl_shutdown_event:
            return true;
        default:
            return false;
    }
}

}  // namespace

uint32_t run_child() {
    // Attached data without any entry names no program: say so plainly
    // instead of asking the system to start a program without a name.
    if (main_exe_path[0] == 0) fatal_exit_with_code(msg_launch, error_file_not_found);

    ChildHandle child = os_start_child(main_exe_path, child_command_line, child_args, child_arg_count);
    if (child == nullptr) fatal_exit_with_code(msg_launch, os_last_error());
    child_handle.store(child);
    child_users.store(1);

    os_wait_child(child, wait_forever);
    uint32_t code = 0;
    if (!os_child_exit_code(child, &code)) code = 1;
    let_go_of_child();
    return code;
}

bool console_ctrl_handler(uint32_t event) {
    if (!ends_child(event)) return false;
    if (take_child()) {
        ChildHandle child = child_handle.load();
        if (!os_wait_child(child, grace_period_ms)) os_terminate_child(child, 0);
        let_go_of_child();
    }
    // Once a child has been started, the launcher ends with the child's exit
    // code: the main sequence returns it as soon as the child has ended. The
    // event is held back so that the system's default handling cannot end the
    // launcher first with a code of its own.
    if (child_users.load() != 0) os_hold_thread();
    return false;
}
