#include "child/run_child.h"

#include "launcher/fatal.h"
#include "launcher/state.h"

namespace {

constexpr uint32_t grace_period_ms = 5000;

// A handler joins only while someone still holds the handle.
bool take_child() {
    int users = launcher.child_users.load();
    for (;;) {
        if (users == child_starting) {
            os_sleep(1);
            users = launcher.child_users.load();
            continue;
        }
        if (users <= 0) return false;
        if (launcher.child_users.compare_exchange_weak(users, users + 1)) return true;
    }
}

void let_go_of_child() {
    int users = launcher.child_users.load();
    while (!launcher.child_users.compare_exchange_weak(users, users == 1 ? child_closed : users - 1)) {
    }
    if (users == 1) os_close_child(launcher.child_handle.exchange(nullptr));
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

uint32_t run_child(const ChildCommand& command) {
    // Attached data without any entry names no program: say so plainly
    // instead of asking the system to start a program without a name.
    if (launcher.main_exe_path[0] == 0) fatal_exit_with_code(msg_launch, error_not_found);

    launcher.child_users.store(child_starting);
    ChildHandle child = os_start_child(launcher.main_exe_path, command);
    if (child == nullptr) {
        uint32_t error = os_last_error();
        launcher.child_users.store(0);
        fatal_exit_with_code(msg_launch, error);
    }
    launcher.child_handle.store(child);
    launcher.child_users.store(1);

    // A failed wait leaves the child's state unknown; reading its exit code
    // then would pass off "still running" as one.
    uint32_t code = 0;
    if (!os_wait_child(child, wait_forever) || !os_child_exit_code(child, &code)) code = 1;
    let_go_of_child();
    return code;
}

bool console_ctrl_handler(uint32_t event) {
    if (!ends_child(event)) return false;
    if (take_child()) {
        ChildHandle child = launcher.child_handle.load();
        if (!os_wait_child(child, grace_period_ms)) os_terminate_child(child, 0);
        let_go_of_child();
    }
    // Once a child has been started, the launcher ends with the child's exit
    // code: the main sequence returns it as soon as the child has ended. The
    // event is held back so that the system's default handling cannot end the
    // launcher first with a code of its own.
    if (launcher.child_users.load() != 0) os_hold_thread();
    return false;
}
