#include "opened_app.h"

#include "utf8.h"

std::string OpenedApp::problem(const std::string& what) const { return "'" + printable(path) + "': " + what; }

std::string OpenedApp::problem(const BlockProblem& block) const {
    return problem(describe(block, image.block_offset));
}

bool open_app(const std::string& path, OpenedApp* app, std::string* error) {
    app->path = path;
    if (!app->file.open(path, error)) return false;
    app->bytes = std::make_unique<FileBytes>(app->file);
    std::string reason;
    if (!read_image(*app->bytes, &app->image, &reason)) {
        *error = app->problem(reason);
        return false;
    }
    BlockProblem problem;
    if (!read_block_shape(*app->bytes, app->image.block_offset, app->image.block_size, &app->shape, &problem)) {
        *error = app->problem(problem);
        return false;
    }
    return true;
}

std::string image_description(const ImageContents& image) {
    return image.kind == ImageKind::bare_block ? "block file" : std::string(image_kind_name(image.kind)) + " launcher";
}

std::string layout_description(const BlockShape& shape) {
    std::string text = layout_name(shape.layout);
    if (shape.layout == BlockLayout::indexed) {
        text += ", " + std::to_string(shape.frames.size()) + (shape.frames.size() == 1 ? " frame" : " frames");
    }
    return text;
}

bool list_entries(const OpenedApp& app, std::vector<WalkedEntry>* entries, WalkSummary* summary, std::string* error) {
    entries->clear();
    *summary = WalkSummary();
    if (app.shape.layout == BlockLayout::indexed) {
        for (const IndexedEntry& listed : app.shape.entries) {
            WalkedEntry entry;
            entry.name = listed.name;
            entry.size = listed.size;
            entry.stored = listed.checksum;
            entry.number = entries->size();
            entries->push_back(entry);
            ++summary->files;
            summary->bytes += listed.size;
        }
        return true;
    }
    CollectEntries collect(entries);
    BlockProblem problem;
    if (walk_block(*app.bytes, app.image.block_offset, app.shape, WalkChecks{false, false}, collect, summary,
                   &problem))
        return true;
    *error = app.problem(problem);
    return false;
}
