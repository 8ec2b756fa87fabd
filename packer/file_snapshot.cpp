#include "file_snapshot.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>

#include "fd_io.h"
#include "host.h"

namespace {

const size_t piece_size = 1 << 20;

std::string system_reason() { return error_text(errno); }

bool open_spill_file(const SnapshotSettings& settings, FileSnapshot* snapshot, std::string* error) {
    if (snapshot->spill_fd >= 0) {
        if (truncate_file(snapshot->spill_fd)) return true;
    } else {
        snapshot->spill_fd = create_scratch_file(settings.spill_dir);
        if (snapshot->spill_fd >= 0) return true;
    }
    *error = "cannot use a scratch file in " + settings.spill_dir + ": " + system_reason();
    return false;
}

}  // namespace

FileSnapshot::~FileSnapshot() {
    if (spill_fd >= 0) close_file(spill_fd);
}

bool take_snapshot(const std::string& path, const std::string& shown, uint64_t listed_size,
                   const SnapshotSettings& settings, FileSnapshot* snapshot, std::string* error) {
    int fd = open_for_reading(path);
    if (fd < 0) {
        *error = "cannot read " + shown + ": " + system_reason();
        return false;
    }
    uint64_t size = 0;
    if (!file_size(fd, &size)) {
        *error = "cannot read " + shown + ": " + system_reason();
        close_file(fd);
        return false;
    }
    if (size != listed_size) {
        close_file(fd);
        *error = shown + " changed while it was being packed (its size is no longer " + std::to_string(listed_size) +
                 " bytes)";
        return false;
    }
    snapshot->size = 0;
    snapshot->crc = 0;
    snapshot->spilled = listed_size > settings.memory_limit;
    if (snapshot->spilled && !open_spill_file(settings, snapshot, error)) {
        close_file(fd);
        return false;
    }

    // Read until end of file, not just the listed size, so that growth is seen.
    std::vector<unsigned char> spill_piece;
    if (snapshot->spilled) {
        spill_piece.resize(piece_size);
    } else {
        snapshot->memory.resize(listed_size + 1);
    }
    bool changed = false;
    while (true) {
        unsigned char* into = snapshot->spilled ? spill_piece.data() : snapshot->memory.data() + snapshot->size;
        size_t want = snapshot->spilled ? piece_size : static_cast<size_t>(listed_size + 1 - snapshot->size);
        ssize_t got = read_fully(fd, into, want);
        if (got < 0) {
            *error = "cannot read " + shown + ": " + system_reason();
            close_file(fd);
            return false;
        }
        if (got == 0) break;
        snapshot->crc = static_cast<uint32_t>(crc32_z(snapshot->crc, into, static_cast<size_t>(got)));
        snapshot->size += static_cast<uint64_t>(got);
        if (snapshot->size > listed_size) {
            changed = true;
            break;
        }
        if (snapshot->spilled && !write_fully(snapshot->spill_fd, into, static_cast<size_t>(got))) {
            *error = "cannot write a scratch file in " + settings.spill_dir + ": " + system_reason();
            close_file(fd);
            return false;
        }
        if (!snapshot->spilled && snapshot->size == listed_size + 1) break;
    }
    close_file(fd);
    if (changed || snapshot->size != listed_size) {
        *error = shown + " changed while it was being packed (it was " + std::to_string(listed_size) +
                 " bytes, now it is " + (changed ? "more" : std::to_string(snapshot->size)) + " bytes)";
        return false;
    }
    if (!snapshot->spilled) snapshot->memory.resize(listed_size);
    return true;
}

bool replay_snapshot(FileSnapshot& snapshot, const std::function<bool(const unsigned char*, size_t)>& sink,
                     std::string* error) {
    if (!snapshot.spilled) {
        for (uint64_t done = 0; done < snapshot.size;) {
            size_t piece = static_cast<size_t>(std::min<uint64_t>(piece_size, snapshot.size - done));
            if (!sink(snapshot.memory.data() + done, piece)) return false;
            done += piece;
        }
        return true;
    }
    if (!rewind_file(snapshot.spill_fd)) {
        *error = std::string("cannot read back a scratch file: ") + system_reason();
        return false;
    }
    std::vector<unsigned char> piece(piece_size);
    uint64_t done = 0;
    while (done < snapshot.size) {
        ssize_t got = read_fully(snapshot.spill_fd, piece.data(), piece_size);
        if (got <= 0) {
            *error = std::string("cannot read back a scratch file: ") + (got < 0 ? system_reason() : "it is short");
            return false;
        }
        if (!sink(piece.data(), static_cast<size_t>(got))) return false;
        done += static_cast<uint64_t>(got);
    }
    return true;
}
