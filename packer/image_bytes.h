// The bytes of a file being looked into, read at any offset: from memory,
// or from an open file so that a launcher of any size is inspected without
// being read whole.
#pragma once

#include <cstdint>
#include <string>

#include "host.h"

class ImageBytes {
public:
    virtual ~ImageBytes() = default;
    virtual uint64_t size() const = 0;
    // Exactly `count` bytes at `offset`; false with the reason in `error`
    // when they cannot be read (past the end included).
    virtual bool read(uint64_t offset, void* out, size_t count, std::string* error) const = 0;

    // The same into a string.
    bool read(uint64_t offset, uint64_t count, std::string* out, std::string* error) const;
    // Whether [offset, offset + count) lies inside.
    bool holds(uint64_t offset, uint64_t count) const { return offset <= size() && count <= size() - offset; }
};

class MemoryBytes : public ImageBytes {
public:
    MemoryBytes(const void* bytes, uint64_t size) : bytes_(static_cast<const unsigned char*>(bytes)), size_(size) {}
    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, void* out, size_t count, std::string* error) const override;
    using ImageBytes::read;

private:
    const unsigned char* bytes_;
    uint64_t size_;
};

class FileBytes : public ImageBytes {
public:
    explicit FileBytes(const ReadOnlyFile& file) : file_(file) {}
    uint64_t size() const override { return file_.size(); }
    bool read(uint64_t offset, void* out, size_t count, std::string* error) const override;
    using ImageBytes::read;

private:
    const ReadOnlyFile& file_;
};
