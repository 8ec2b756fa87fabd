// Launchers of one application started at the same moment share one target
// directory. Without a lock, a second launcher that finds a file missing or
// half written truncates and rewrites it, possibly after the first has
// started its child on that very file. Writers therefore take a lock per
// target directory: lazily, before the first write of a run, and keep it to
// the end marker. A start that finds everything in place never takes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// "zembra-unpack-" and 16 hex digits: a hash of `dir` with ASCII letters
// folded to upper case and trailing separators dropped, so that two
// spellings of one directory name one lock.
inline constexpr size_t target_lock_key_capacity = 32;
void target_lock_key(const char16_t* dir, char16_t* out);

// How long a launcher waits for another one to finish writing the target
// directory. A holder that takes longer is taken to be stalled (stopped in a
// debugger, suspended, on a frozen drive): the launcher then goes on without
// the lock rather than wait forever.
inline constexpr uint32_t unpack_lock_wait_ms = 30000;

// Takes the lock of target_dir, which must exist by then; waits while
// another launcher holds it, up to unpack_lock_wait_ms. Done once per run: a
// lock that cannot be had in that time leaves the launcher writing as it
// would without one.
void lock_target_dir();

// True once lock_target_dir has been called in this run.
bool target_dir_lock_tried();

// Releases the lock, if held, and forgets the attempt.
void unlock_target_dir();

// os_open_for_write, but while this launcher holds the lock it waits out
// another launcher that is only checking the file (its read handle
// forbids the open for a moment), up to about two seconds. A file still in
// use after that, such as one a running program holds, fails as before.
FileHandle open_for_writing_under_lock(const char16_t* path);
