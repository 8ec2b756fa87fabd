// The child process and console control events on Windows.
#include <windows.h>
#include <shellapi.h>

#include "platform/platform.h"
#include "platform/win32/system_calls.h"

namespace {

bool (*ctrl_handler)(uint32_t) = nullptr;

BOOL WINAPI ctrl_trampoline(DWORD event) { return ctrl_handler(event) ? TRUE : FALSE; }

}  // namespace

char16_t** os_split_command_line(int* count) {
    int n = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &n);
    if (list == nullptr) return nullptr;
    *count = n;
    return reinterpret_cast<char16_t**>(list);
}

ChildHandle os_start_child(const char16_t* application, const ChildCommand& command) {
    // Only the standard handles are passed: no window placement, title or
    // show state of the launcher's own start reaches the child.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!system_calls.create_process(reinterpret_cast<const wchar_t*>(application),
                                     reinterpret_cast<wchar_t*>(command.command_line), nullptr, nullptr, TRUE,
                                     NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process))
        return nullptr;
    system_calls.close_handle(process.hThread);
    return process.hProcess;
}

bool os_wait_child(ChildHandle child, uint32_t timeout_ms) {
    return system_calls.wait_for_single_object(child, timeout_ms) == WAIT_OBJECT_0;
}

bool os_child_exit_code(ChildHandle child, uint32_t* code) {
    DWORD value = 0;
    if (!system_calls.get_exit_code_process(child, &value)) return false;
    *code = value;
    return true;
}

void os_terminate_child(ChildHandle child, uint32_t exit_code) { system_calls.terminate_process(child, exit_code); }

void os_close_child(ChildHandle child) { system_calls.close_handle(child); }

bool os_add_ctrl_handler(bool (*handler)(uint32_t event)) {
    ctrl_handler = handler;
    return SetConsoleCtrlHandler(ctrl_trampoline, TRUE) != 0;
}

void os_hold_thread() {
    for (;;) Sleep(INFINITE);
}
