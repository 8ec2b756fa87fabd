#include "link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "host.h"
#include "resources.h"
#include "run_tool.h"
#include "utf8.h"
#include "work_dir.h"

namespace {

void emit_symbol(std::string* out, const char* name, int align_log) {
    *out += "\t.globl\t" + std::string(name) + "\n";
    *out += "\t.p2align\t" + std::to_string(align_log) + "\n";
    *out += std::string(name) + ":\n";
}

void emit_utf16(std::string* out, const char* name, const std::string& text) {
    std::u16string units;
    utf8_to_utf16(text, &units);
    units.push_back(0);
    emit_symbol(out, name, 1);
    for (size_t i = 0; i < units.size(); ++i) {
        char value[16];
        std::snprintf(value, sizeof value, "0x%04x", static_cast<unsigned>(units[i]));
        *out += (i % 16 == 0 ? "\t.short\t" : ", ") + std::string(value);
        if (i % 16 == 15 || i + 1 == units.size()) *out += "\n";
    }
}

std::string absolute(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string result(resolved);
    free(resolved);
    return result;
}

bool file_exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

const LinkTarget& windows_target() {
    static const LinkTarget target{
        "windows",
        "x86_64-w64-mingw32-g++-posix",
        ".section .rdata,\"dr\"",
        "",
        {"-municode", "-mwindows", "-static", "-s",
         // The entry point lives in the launcher library, which the linker
         // searches before the C runtime that calls it.
         "-Wl,--undefined=wWinMain",
         // 16 MiB of stack reserved for the main thread, 4 KiB committed.
         "-Xlinker", "--stack", "-Xlinker", "16777216,4096", "-Wl,--heap,1048576",
         "-Wl,--major-subsystem-version,6", "-Wl,--minor-subsystem-version,0",
         "-Wl,--major-os-version,6", "-Wl,--minor-os-version,0",
         "-Wl,--tsaware", "-Wl,--high-entropy-va", "-Wl,--dynamicbase", "-Wl,--nxcompat",
         // Sections start on page boundaries in the file too, so a loader
         // can map the block in place instead of copying tens of megabytes
         // into private memory at every start (Wine does the latter for
         // 512-byte alignment).
         "-Wl,--file-alignment,4096"},
        {"-llauncher", "-lzstd_decoder", "-lz", "-lshell32"},
        true,
    };
    return target;
}

std::string payload_assembly(const LinkTarget& target, const std::string& block_file, const Identity& identity) {
    std::string out = "\t" + target.data_section + "\n";
    emit_symbol(&out, "launcher_attached_data", 4);
    out += "\t.incbin\t\"" + block_file + "\"\n";
    out += "launcher_attached_end:\n";
    // The assembler measures what it included, so the length always matches
    // the embedded bytes, even if the file changed since it was checked.
    emit_symbol(&out, "launcher_attached_size", 3);
    out += "\t.quad\tlauncher_attached_end - launcher_attached_data\n";
    emit_utf16(&out, "launcher_unpack_spec", identity.unpack_spec);
    emit_utf16(&out, "launcher_company", identity.company);
    emit_utf16(&out, "launcher_product", identity.product);
    emit_utf16(&out, "launcher_version", identity.version);
    if (!target.assembly_end.empty()) out += "\t" + target.assembly_end + "\n";
    return out;
}

std::string launcher_library_dir(const LinkTarget& target) {
    return program_dir() + "/../lib/zembra/" + target.name;
}

bool link_launcher(const LinkTarget& target, const std::string& block_path, const Identity& identity,
                   OutputFile* output, std::string* error) {
    std::string library_dir = launcher_library_dir(target);
    if (!file_exists(library_dir + "/liblauncher.a")) {
        *error = "no launcher library for " + target.name + " at " + library_dir +
                 "/liblauncher.a (build the " + target.name + " tree first)";
        return false;
    }
    std::string block = absolute(block_path);
    if (block.empty()) {
        *error = "cannot read block '" + printable(block_path) + "': " + std::strerror(errno);
        return false;
    }

    WorkDir work;
    if (!work.create(error)) return false;
    // The block is reached through a link with a fixed, plain name, so its
    // own path never has to be quoted for the assembler.
    const std::string block_name = "attached.bin";
    if (symlink(block.c_str(), (work.path() + "/" + block_name).c_str()) != 0) {
        *error = std::string("cannot prepare the link: ") + std::strerror(errno);
        return false;
    }
    std::ofstream source(work.path() + "/payload.s");
    source << payload_assembly(target, block_name, identity);
    source.close();
    if (!source) {
        *error = "cannot write the payload source in " + work.path();
        return false;
    }

    std::vector<std::string> objects = {"payload.o"};
    if (target.has_resources) {
        std::string resource_error;
        if (!write_resource_object(identity, work.path(), work.path() + "/resources.o", &resource_error)) {
            *error = "image resources: " + resource_error;
            return false;
        }
        objects.push_back("resources.o");
    }
    if (!run_step({target.compiler, "-c", "payload.s", "-o", "payload.o"}, work.path(), "assembling the block",
                  error)) {
        return false;
    }

    output->close_fd();
    std::vector<std::string> argv = {target.compiler};
    argv.insert(argv.end(), target.link_flags.begin(), target.link_flags.end());
    argv.push_back("-o");
    argv.push_back(output->temporary_path());
    argv.insert(argv.end(), objects.begin(), objects.end());
    argv.push_back("-L" + library_dir);
    argv.insert(argv.end(), target.libraries.begin(), target.libraries.end());
    return run_step(argv, work.path(), "linking the launcher", error);
}
