// The launcher keeps what it allocates until its process ends, and a fatal
// end leaves everything to the process end. A fuzz target stands for one
// process per input, so at the end of each input it releases what the
// launcher's code still holds, as the process end would. The targets link
// with -Wl,--wrap for malloc, calloc, realloc and free, and for the fake's
// os_read_file (PROCESS_MEMORY_WRAPS in CMakeLists.txt).
#pragma once

#include "fake_os.h"

void release_process_memory();

// Puts the launcher's state back as a process starts with it, every byte
// zero, as reset_launcher_state does, but cheaply: the state is mostly the
// checksum buffers (megabytes), which only reads of existing files fill, so
// each is cleared only as far as the reads since the last call reached.
// Whatever the state pointed to on the heap is left to
// release_process_memory.
void fresh_launcher_state();

// Leaves the fake as the input found it, so that no input ends with more
// blocks allocated than freed: libFuzzer runs such an input a second time
// under the leak checker, which costs more than the input itself.
struct FakeResetAtEnd {
    ~FakeResetAtEnd() { fake_reset(); }
};
