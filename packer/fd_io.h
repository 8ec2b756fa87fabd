// Whole reads and writes on file descriptors, retrying short transfers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Reads up to `count` bytes; returns the number read (less than `count` only
// at end of file) or -1 with errno set.
ssize_t read_fully(int fd, void* buffer, size_t count);

// Writes all `count` bytes; false with errno set on failure.
bool write_fully(int fd, const void* buffer, size_t count);

// The same at `offset`, leaving the file offset alone.
bool write_fully_at(int fd, const void* buffer, size_t count, uint64_t offset);

// Reads a whole file into `bytes`; false with errno set on failure.
bool read_whole_file(const std::string& path, std::string* bytes);

// The same, with "cannot read <shown>: <reason>" in `error` on failure.
bool read_whole_file(const std::string& path, const std::string& shown, std::string* bytes, std::string* error);
