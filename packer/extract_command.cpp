// zembra extract APP -o DIR: every entry written below DIR, as a launcher
// would unpack it but without running anything. Every name is checked
// before anything is written; a file already there with the stored
// checksum is left alone; each file is written under a temporary name and
// renamed into place only once its data has passed its checksum, so a
// damaged block stops the extraction with the files already written whole.
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "entry_names.h"
#include "fd_io.h"
#include "inspect_commands.h"
#include "opened_app.h"
#include "output_file.h"
#include "pack_summary.h"
#include "payload/block_format.h"
#include "text_display.h"
#include "utf8.h"

namespace {

// The relative path an entry is written to: '/' between components.
std::string relative_path(const std::u16string& name) {
    std::string text;
    utf16_to_utf8(name, &text);   // the name has passed entry_name_problem
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

// The checksum a launcher finds for a file already on disk: 0 when it is
// missing, empty or unreadable, 1 in place of a CRC of 0.
uint32_t existing_checksum(const std::string& path) {
    if (path_kind(path) != PathKind::file) return 0;
    ReadOnlyFile file;
    std::string error;
    if (!file.open(path, &error) || file.size() == 0) return 0;
    std::vector<unsigned char> chunk(1 << 20);
    uLong crc = 0;
    for (uint64_t at = 0; at < file.size();) {
        const int64_t got = file.read_at(at, chunk.data(), chunk.size(), &error);
        if (got <= 0) return 0;
        crc = crc32_z(crc, chunk.data(), static_cast<size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    return stored_checksum(static_cast<uint32_t>(crc));
}

// Creates `dir` and every missing directory above it.
bool make_directories(const std::string& dir, std::set<std::string>* made, std::string* error) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (!prefix.empty() && made->count(prefix) == 0) {
            if (!make_directory(prefix, error)) return false;
            made->insert(prefix);
        }
        if (slash == std::string::npos) return true;
    }
}

// Refuses, before anything is written, every name that would land outside
// DIR or cannot be written there: bad names, a name that is also another
// entry's directory, and files or directories in the way.
bool check_targets(const OpenedApp& app, const std::string& dir, const std::vector<WalkedEntry>& entries,
                   std::string* error) {
    const std::string nothing = "; nothing was written";
    std::set<std::string> files, parents;
    for (const WalkedEntry& entry : entries) {
        const std::string problem = entry_name_problem(entry.name);
        if (!problem.empty()) {
            *error = app.problem("entry '" + display_name(entry.name) + "' cannot be extracted: its name " + problem +
                                 nothing);
            return false;
        }
        const std::string relative = relative_path(entry.name);
        files.insert(relative);
        for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
            parents.insert(relative.substr(0, slash));
    }
    for (const std::string& parent : parents) {
        if (files.count(parent) != 0) {
            *error = app.problem("entry '" + printable(parent) + "' is a file and also the directory of other entries" +
                                 nothing);
            return false;
        }
        const PathKind kind = path_kind(dir + "/" + parent);
        if (kind != PathKind::missing && kind != PathKind::directory) {
            *error = "'" + printable(dir + "/" + parent) + "' is in the way of a directory the files need" + nothing;
            return false;
        }
    }
    for (const std::string& file : files) {
        const PathKind kind = path_kind(dir + "/" + file);
        if (kind == PathKind::directory || kind == PathKind::other) {
            *error = "'" + printable(dir + "/" + file) + "' is " +
                     (kind == PathKind::directory ? "a directory" : "not a regular file") + ", where entry '" +
                     printable(file) + "' is a file" + nothing;
            return false;
        }
    }
    return true;
}

class WriteFiles : public EntrySink {
public:
    explicit WriteFiles(const std::string& dir) : dir_(dir) {}

    bool begin(const WalkedEntry& entry, std::string* error) override {
        // Checked before anything was written; checked again, since the
        // stream is read a second time.
        const std::string problem = entry_name_problem(entry.name);
        if (!problem.empty()) {
            *error = "entry '" + display_name(entry.name) + "' cannot be extracted: its name " + problem;
            return false;
        }
        path_ = dir_ + "/" + relative_path(entry.name);
        start_.clear();
        output_.reset();
        if (existing_checksum(path_) == entry.stored) {
            ++in_place_;
            return true;
        }
        const size_t slash = path_.rfind('/');
        if (!make_directories(path_.substr(0, slash), &made_, error)) return false;
        output_ = std::make_unique<OutputFile>();
        return output_->create(path_, error);
    }

    bool data(const unsigned char* bytes, size_t count, std::string* error) override {
        if (!output_) return true;
        if (start_.size() < 4) start_.append(reinterpret_cast<const char*>(bytes), std::min<size_t>(count, 4 - start_.size()));
        if (write_fully(output_->fd(), bytes, count)) return true;
        *error = "cannot write '" + printable(path_) + "': " + std::strerror(errno);
        return false;
    }

    bool end(const WalkedEntry& entry, std::string* error) override {
        bytes_ += entry.size;
        if (!output_) return true;
        // Programs and scripts can be run where they land.
        const bool runnable = start_.compare(0, 4, "\x7f" "ELF") == 0 || start_.compare(0, 2, "#!") == 0;
        if (!output_->commit(runnable ? 0777 : 0666, error)) return false;
        output_.reset();
        ++written_;
        return true;
    }

    uint64_t written_ = 0, in_place_ = 0, bytes_ = 0;

private:
    std::string dir_, path_, start_;
    std::set<std::string> made_;
    std::unique_ptr<OutputFile> output_;
};

}  // namespace

int run_extract(const CommandLine& line) {
    OpenedApp app;
    std::string error;
    if (!open_app(line.input, &app, &error)) return inspect_failure(error);
    std::string dir = line.output;
    if (dir.empty()) return inspect_failure("option -o needs a directory");
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();

    // The names, to be checked before anything is written: the index holds
    // them; a single stream is decoded once for them, its data checked on
    // the way, so a damaged block is found before anything is written too.
    std::vector<WalkedEntry> entries;
    WalkSummary summary;
    BlockProblem problem;
    if (app.shape.layout == BlockLayout::indexed) {
        if (!list_entries(app, &entries, &summary, &error)) return inspect_failure(error);
    } else {
        CollectEntries collect(&entries);
        if (!walk_block(*app.bytes, app.image.block_offset, app.shape, WalkChecks{true, false}, collect, &summary,
                        &problem))
            return inspect_failure(app.problem(problem) + "; nothing was written");
    }
    const PathKind kind = path_kind(dir);
    if (kind != PathKind::missing && kind != PathKind::directory)
        return inspect_failure("'" + printable(dir) + "' is not a directory");
    if (!check_targets(app, dir, entries, &error)) return inspect_failure(error);

    WriteFiles writer(dir);
    std::set<std::string> made;
    if (!make_directories(dir, &made, &error)) return inspect_failure(error);
    if (!walk_block(*app.bytes, app.image.block_offset, app.shape, WalkChecks{true, false}, writer, &summary,
                    &problem)) {
        const std::string kept = "; " + file_count(writer.written_) + " written before it " +
                                 (writer.written_ == 1 ? "is" : "are") + " whole";
        return inspect_failure((problem.located ? app.problem(problem) : problem.what) + kept);
    }
    std::printf("extracted %s, %s bytes, to '%s': %s written, %s already in place\n",
                file_count(summary.files).c_str(), grouped(writer.bytes_).c_str(), printable(dir).c_str(),
                grouped(writer.written_).c_str(), grouped(writer.in_place_).c_str());
    return 0;
}
