// The Windows console program: takes its arguments as UTF-16 and hands them
// on as UTF-8, the packer's text everywhere, and writes its output as UTF-8
// with plain "\n" line ends, the same bytes as on Linux.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "cli.h"
#include "host_win32.h"

namespace {

UINT console_code_page = 0;

void restore_code_page() {
    if (console_code_page != 0) SetConsoleOutputCP(console_code_page);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // A console shows the UTF-8 as text while the packer runs.
    console_code_page = GetConsoleOutputCP();
    if (console_code_page != 0 && SetConsoleOutputCP(CP_UTF8)) std::atexit(restore_code_page);
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(narrow(argv[i], std::wcslen(argv[i])));
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    return packer_main(argc, pointers.data());
}
