#include "cli.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "command_line.h"
#include "host.h"
#include "identity_check.h"
#include "inspect_commands.h"
#include "interrupt_cleanup.h"
#include "pack.h"
#include "pack_summary.h"
#include "progress.h"
#include "project_file.h"
#include "stub.h"
#include "tool.h"
#include "utf8.h"
#include "work_dir.h"
#include "write_launcher.h"

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", tool_name, message.c_str());
    return 1;
}

// A value the project file gave is named by its file, line and key.
int fail(const CommandLine& line, const std::string& message) { return fail(attributed(line, message)); }

// Ends a pack or build that began at `start`.
void report(const PackSummary& summary, std::chrono::steady_clock::time_point start) {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%s\n", summary_line(summary, seconds).c_str());
}

// Problems found before any work starts, so a long pack is not wasted.
bool check_link_inputs(const CommandLine& line, std::string* error) {
    if (!check_identity(line.identity, error)) return false;
    if (!find_target(line.target)->has_resources) return true;   // the icons are not used
    for (const std::string& icon : line.identity.icons) {
        FileInfo info;
        const int fd = examine(icon, true, &info) && info.kind == FileKind::directory ? -2 : open_for_reading(icon);
        if (fd == -1) {
            *error = "--icon '" + printable(icon) + "': " + error_text(errno);
            return false;
        }
        if (fd >= 0) close_file(fd);
    }
    return true;
}

PackSettings pack_settings(const CommandLine& line) {
    PackSettings settings;
    settings.compression = line.compression;
    settings.snapshot.spill_dir = temp_root();
    settings.show_progress = progress_wanted();
    settings.excludes = line.excludes;
    return settings;
}

int run_pack(const CommandLine& line) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    PackSummary summary;
    if (!pack_directory(line.input, line.main, pack_settings(line), line.output, &error, &summary)) {
        return fail(line, error);
    }
    report(summary, start);
    return 0;
}

int run_link(const CommandLine& line) {
    std::string error;
    if (!check_link_inputs(line, &error)) return fail(error);
    FileInfo info;
    if (!examine(line.input, true, &info)) return fail("block '" + printable(line.input) + "': " + error_text(errno));
    if (info.kind != FileKind::regular) return fail("block '" + printable(line.input) + "' is not a regular file");
    const int readable = open_for_reading(line.input);
    if (readable < 0) return fail("block '" + printable(line.input) + "': " + error_text(errno));
    close_file(readable);
    LauncherParts parts;
    OutputFile output;
    if (!prepare_launcher(*find_target(line.target), line.identity, &parts, &error) ||
        !output.create(line.output, &error) || !write_launcher(parts, line.input, &output, &error) ||
        !output.commit(0777, &error)) {
        return fail(error);
    }
    return 0;
}

int run_build(const CommandLine& line) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    LauncherParts parts;
    if (!check_link_inputs(line, &error) || !output_can_be_written(line.output, &error) ||
        !prepare_launcher(*find_target(line.target), line.identity, &parts, &error)) {
        return fail(line, error);
    }
    // Linux programs have no extension that would single out the main one.
    if (line.target == "linux" && line.main.empty()) return fail("--target linux needs --main to name the main program");
    WorkDir work;
    if (!work.create(&error)) return fail(error);
    PackSettings settings = pack_settings(line);
    settings.snapshot.spill_dir = work.path();
    std::string block = work.path() + "/attached.bin";
    PackSummary summary;
    if (!pack_directory(line.input, line.main, settings, block, &error, &summary)) return fail(line, error);
    // Created only now, so that an output inside the input directory is
    // never packed half-written.
    OutputFile output;
    if (!output.create(line.output, &error) || !write_launcher(parts, block, &output, &error) ||
        !output.commit(0777, &error)) {
        return fail(error);
    }
    report(summary, start);
    return 0;
}

}  // namespace

int inspect_failure(const std::string& message) { return fail(message); }

int packer_main(int argc, const char* const* argv) {
    install_interrupt_cleanup();
    if (argc < 2) {
        std::fputs(help_text().c_str(), stderr);
        return 2;
    }
    CommandLine line;
    std::string error;
    if (!parse_command_line(argc, argv, &line, &error)) return fail(error);
    if (line.command == "help") {
        std::fputs(line.help.c_str(), stdout);
        return 0;
    }
    if (line.command == "version") {
        std::printf("%s %s\n", tool_name, tool_version);
        return 0;
    }
    if (line.command == "pack") return run_pack(line);
    if (line.command == "link") return run_link(line);
    if (line.command == "list") return run_list(line);
    if (line.command == "extract") return run_extract(line);
    if (line.command == "verify") return run_verify(line);
    if (line.command == "info") return run_info(line);
    return run_build(line);
}
