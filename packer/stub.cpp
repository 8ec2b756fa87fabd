#include "stub.h"

#include <cerrno>

#include "fd_io.h"
#include "host.h"
#include "utf8.h"

const LauncherTarget* find_target(const std::string& name) {
    static const LauncherTarget windows_x64{"windows", "windows-x64.exe", true};
    static const LauncherTarget linux_x64{"linux", "linux-x64", false};
    if (name == windows_x64.name) return &windows_x64;
    if (name == linux_x64.name) return &linux_x64;
    return nullptr;
}

std::string install_root() { return program_dir() + "/.."; }

bool read_stub(const LauncherTarget& target, Stub* stub, std::string* error) {
    stub->path = install_root() + "/lib/zembra/stubs/" + target.stub_file;
    if (read_whole_file(stub->path, &stub->bytes)) return true;
    *error = "cannot read the " + target.name + " launcher stub '" + printable(stub->path) +
             "': " + error_text(errno);
    return false;
}
