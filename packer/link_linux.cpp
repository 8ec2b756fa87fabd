#include "link_linux.h"

const LinkTarget& linux_target() {
    static const LinkTarget target{
        "linux",
        "g++",
        ".section .rodata",
        // Without it the linker would ask for an executable stack.
        ".section .note.GNU-stack,\"\",@progbits",
        // The C++ runtime goes in whole, so the launcher runs on any current
        // glibc system without further packages.
        {"-static-libstdc++", "-static-libgcc", "-pthread", "-s"},
        {"-llauncher", "-Wl,-Bstatic", "-lzstd", "-lz", "-Wl,-Bdynamic"},
        false,
    };
    return target;
}

const LinkTarget* find_target(const std::string& name) {
    if (name == "windows") return &windows_target();
    if (name == "linux") return &linux_target();
    return nullptr;
}
