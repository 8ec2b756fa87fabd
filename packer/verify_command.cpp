// zembra verify APP: everything a launcher relies on, in the order it
// relies on it: the image, the block (magic, index, every entry's data
// against its checksum, the index against the stream, the end), the unpack
// spec, then the image's own checksum. Stops at the first problem.
#include <cstdio>

#include "entry_names.h"
#include "inspect_commands.h"
#include "opened_app.h"
#include "pack_summary.h"
#include "unpack_dir.h"
#include "utf8.h"

namespace {

// Names that would land outside the target directory count as damage: a
// launcher would write them wherever they lead.
class CheckNames : public EntrySink {
public:
    explicit CheckNames(const OpenedApp& app) : app_(app) {}
    bool begin(const WalkedEntry& entry, std::string* error) override {
        const std::string problem = entry_name_problem(entry.name);
        if (problem.empty()) return true;
        BlockProblem where;
        where.block_byte = entry.block_byte;
        where.in_entry = true;
        where.entry = entry.name;
        where.what = "its name " + problem;
        *error = app_.problem(where);
        return false;
    }

private:
    const OpenedApp& app_;
};

}  // namespace

int run_verify(const CommandLine& line) {
    OpenedApp app;
    std::string error;
    if (!open_app(line.input, &app, &error)) return inspect_failure(error);
    CheckNames names(app);
    WalkSummary summary;
    BlockProblem problem;
    if (!walk_block(*app.bytes, app.image.block_offset, app.shape, WalkChecks{}, names, &summary, &problem))
        return inspect_failure(problem.located ? app.problem(problem) : problem.what);
    if (app.image.kind != ImageKind::bare_block) {
        SpecValues values;
        values.separator = app.image.kind == ImageKind::windows_launcher ? '\\' : '/';
        const UnpackDir dir = expand_unpack_spec(app.image.unpack_spec, values);
        if (!dir.problem.empty()) {
            return inspect_failure(app.problem("its unpack spec '" + printable(app.image.unpack_spec) + "': " + dir.problem));
        }
    }
    if (!check_image_checksum(*app.bytes, app.image, &error)) return inspect_failure(app.problem(error));
    std::printf("'%s': intact: %s, block of %s bytes (%s), %s, %s bytes\n", printable(app.path).c_str(),
                image_description(app.image).c_str(), grouped(app.image.block_size).c_str(),
                layout_description(app.shape).c_str(), file_count(summary.files).c_str(), grouped(summary.bytes).c_str());
    return 0;
}
