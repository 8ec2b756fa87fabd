// A launcher or block file opened to be looked into: the file, what kind of
// image it is with its built-in texts, and its block's shape. Shared by the
// commands list, extract, verify and info.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "block_reader.h"
#include "host.h"
#include "image_bytes.h"
#include "image_reader.h"

struct OpenedApp {
    std::string path;
    ReadOnlyFile file;
    std::unique_ptr<FileBytes> bytes;
    ImageContents image;
    BlockShape shape;

    // "'App.exe': <what>", the one line every problem with it is told in.
    std::string problem(const std::string& what) const;
    std::string problem(const BlockProblem& block) const;
};

// Keeps every entry a walk of the block ends, in stream order.
class CollectEntries : public EntrySink {
public:
    explicit CollectEntries(std::vector<WalkedEntry>* entries) : entries_(entries) {}
    bool end(const WalkedEntry& entry, std::string*) override {
        entries_->push_back(entry);
        return true;
    }

private:
    std::vector<WalkedEntry>* entries_;
};

// Opens `path` and reads its image and block shape. False with one line in
// `error`.
bool open_app(const std::string& path, OpenedApp* app, std::string* error);

// "windows launcher", "linux launcher" or "block file".
std::string image_description(const ImageContents& image);
// "indexed, 3 frames" or "single-frame".
std::string layout_description(const BlockShape& shape);

// Every entry in stream order, with the number of files and bytes: from the
// index when there is one (its checksum holds), else by decoding the stream.
// False with one line in `error`.
bool list_entries(const OpenedApp& app, std::vector<WalkedEntry>* entries, WalkSummary* summary, std::string* error);
