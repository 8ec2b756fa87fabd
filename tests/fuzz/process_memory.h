// The launcher keeps what it allocates until its process ends, and a fatal
// end leaves everything to the process end. A fuzz target stands for one
// process per input, so at the end of each input it releases what the
// launcher's code still holds, as the process end would. The targets link
// with -Wl,--wrap for malloc, calloc, realloc and free.
#pragma once

#include "fake_os.h"

void release_process_memory();

// Leaves the fake as the input found it, so that no input ends with more
// blocks allocated than freed: libFuzzer runs such an input a second time
// under the leak checker, which costs more than the input itself.
struct FakeResetAtEnd {
    ~FakeResetAtEnd() { fake_reset(); }
};
