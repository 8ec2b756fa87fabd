// The invariants of a start of the launcher over any block, shared by the
// fuzz targets of the read path: every ending is one the launcher
// documents, and a start that ends well leaves nothing open, the lock
// released and every file below the target.
#pragma once

#include <cstddef>
#include <string>

#include <zstd.h>

#include "fatal_ends.h"

// The decoder is watched: every call must consume input or produce output
// (a call that does neither, if repeated, is a loop without progress), and
// one input may produce only so much (a few bytes of zstd can describe
// gigabytes, and past a budget nothing new is learnt: the call throws
// WorkBudgetSpent). The targets link with -Wl,--wrap=ZSTD_decompressStream.
struct WorkBudgetSpent {};
void watch_decoder(size_t input_size);   // at the start of each input
void watch_decoder_calls();              // at the start of each run over it

// One compression context for the whole run: creating one for every input
// costs more than the launcher's run over what it compresses. Its memory
// comes from operator new, since what malloc hands out is released at the
// end of every input, as the end of the launcher's process.
ZSTD_CCtx* kept_compression_context();

[[noreturn]] void broken(const char* what);
void check(bool ok, const char* what);

bool starts_with(const std::u16string& text, const std::u16string& prefix);

// What the end of a process releases: the launcher's state, what it still
// holds on the heap, and the fake's open files, views and lock. Files and
// directories stay for the next start.
void end_process();

// The block as the launcher sees it, in memory with a poisoned margin of a
// megabyte on either side, far wider than the allocator's redzones: a read
// anywhere within a margin of the block is reported, however far past an
// edge a wrong offset takes it. The memory is kept across inputs, its
// margins poisoned for good, so an input pays only for its own bytes. The
// decoder's input is also checked to lie within the block at every call.
class GuardedBlock {
public:
    GuardedBlock(const void* data, size_t size);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    const unsigned char* data() const;
    size_t size() const { return size_; }

private:
    size_t size_;
};

// Points the launcher at the block for a new start and forgets what the
// last start wrote.
void begin_start(const unsigned char* block, size_t size);

// `block` and `size`: the attached data; `below`: the target directory and
// one separator; `failing_path`: the path an open failure must name, when
// the caller knows it; `stop_allowed`: whether a path too long for its
// buffer was met, the one silent stop of the read path.
void check_fatal_end(const FatalEnd& end, const unsigned char* block, size_t size, const std::u16string& below,
                     const char16_t* failing_path, bool stop_allowed, bool home_missing);
void check_good_end(const std::u16string& below);
