// zembra info APP: what a launcher is, what it carries and where it
// unpacks for the user running this command.
#include <cstdio>

#include "host.h"
#include "inspect_commands.h"
#include "opened_app.h"
#include "pack_summary.h"
#include "unpack_dir.h"
#include "utf8.h"

namespace {

void field(const char* name, const std::string& value) { std::printf("%-14s%s\n", name, value.c_str()); }

const char* target_text(ImageKind kind) {
    switch (kind) {
    case ImageKind::windows_launcher: return "windows (an x64 GUI program)";
    case ImageKind::linux_launcher: return "linux (an x86-64 ELF program)";
    case ImageKind::bare_block: break;
    }
    return "none: a bare block, as zembra pack writes it";
}

void print_unpack_dir(const OpenedApp& app) {
    const ImageContents& image = app.image;
    SpecValues values;
    values.company = image.company;
    values.product = image.product;
    values.version = image.version;
    values.separator = image.kind == ImageKind::windows_launcher ? '\\' : '/';
    values.this_system = image_kind_name(image.kind) == std::string(host_system());
    values.program = absolute_path(app.path);
    const UnpackDir dir = expand_unpack_spec(image.unpack_spec, values);
    if (!dir.problem.empty()) {
        field("unpacks to:", "nowhere: " + dir.problem);
        return;
    }
    field("unpacks to:", printable(dir.path));
    if (dir.kept) {
        field("", values.this_system ? "({PID}, {TIME}, {TIME_US} and {RANDOM} are shown as written: every start"
                                     : "(shown as written where a value comes from the machine or the moment");
        field("", values.this_system ? " gives them anew)" : " the launcher starts on: folders, its own path, {PID}, ...)");
    }
}

}  // namespace

int run_info(const CommandLine& line) {
    OpenedApp app;
    std::string error;
    std::vector<WalkedEntry> entries;
    WalkSummary summary;
    if (!open_app(line.input, &app, &error) || !list_entries(app, &entries, &summary, &error))
        return inspect_failure(error);
    const ImageContents& image = app.image;
    field("file:", printable(app.path));
    field("target:", target_text(image.kind));
    field("layout:", layout_description(app.shape));
    if (image.kind != ImageKind::bare_block) {
        field("company:", printable(image.company));
        field("product:", printable(image.product));
        field("version:", printable(image.version));
        field("unpack spec:", printable(image.unpack_spec));
        print_unpack_dir(app);
    }
    field("block:", grouped(image.block_size) + " bytes at file byte " + grouped(image.block_offset));
    field("entries:", file_count(summary.files) + ", " + grouped(summary.bytes) + " bytes");
    field("ratio:", fixed(ratio(summary.bytes, image.block_size)));
    if (image.kind == ImageKind::windows_launcher) {
        const std::string version = version_string(image.version_strings, "FileVersion");
        field("stub version:", version.empty() ? "not in its version resource" : printable(version) + " (FileVersion of its version resource)");
    } else if (image.kind == ImageKind::linux_launcher) {
        field("stub version:", "not recorded");
    }
    return 0;
}
