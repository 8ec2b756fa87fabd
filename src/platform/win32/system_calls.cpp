#include "platform/win32/system_calls.h"

SystemCalls system_calls = {
    CreateFileW, WriteFile, ReadFile, GetFileType, CloseHandle, CreateDirectoryW, CreateProcessW,
    WaitForSingleObject, GetExitCodeProcess, TerminateProcess, CreateMutexW, ReleaseMutex, CreateThread,
};
