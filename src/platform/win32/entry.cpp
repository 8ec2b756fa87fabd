// The process entry: the C runtime has built its wide argument vector and
// environment; the launcher's return value becomes the exit code.
#include <windows.h>

#include <cstdlib>

#include "launcher/main.h"
#include "platform/platform.h"

char16_t** os_runtime_args(int* count) {
    *count = __argc;
    return reinterpret_cast<char16_t**>(__wargv);
}

void os_restrict_dll_search() { SetDllDirectoryW(L""); }

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return static_cast<int>(launcher_main()); }
