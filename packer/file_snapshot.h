// One read of one input file: its bytes, their count and their CRC-32 are
// taken together, so the entry written from them always agrees with itself
// even when the file changes while the packer runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FileSnapshot {
    uint64_t size = 0;
    uint32_t crc = 0;               // zlib's CRC-32 of the bytes, started from 0
    // Small files stay in memory; larger ones are copied once into a private
    // unlinked file, so memory use does not grow with the input.
    std::vector<unsigned char> memory;
    bool spilled = false;
    int spill_fd = -1;

    FileSnapshot() = default;
    FileSnapshot(const FileSnapshot&) = delete;
    FileSnapshot& operator=(const FileSnapshot&) = delete;
    ~FileSnapshot();
};

struct SnapshotSettings {
    uint64_t memory_limit = 256ull << 20;   // larger files go to a spill file
    std::string spill_dir = "/tmp";
};

// Reads `path`, which was listed with `listed_size` bytes. Fails, naming
// `shown`, when it cannot be read or its size is not `listed_size` before and
// after the read.
bool take_snapshot(const std::string& path, const std::string& shown, uint64_t listed_size,
                   const SnapshotSettings& settings, FileSnapshot* snapshot, std::string* error);

// Hands the snapshot's bytes to `sink` in order, in pieces; stops and fails
// when `sink` returns false or the spill file cannot be read.
bool replay_snapshot(FileSnapshot& snapshot, const std::function<bool(const unsigned char*, size_t)>& sink,
                     std::string* error);
