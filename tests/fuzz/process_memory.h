// The launcher keeps what it allocates until its process ends, and a fatal
// end leaves everything to the process end. A fuzz target stands for one
// process per input, so at the end of each input it releases what the
// launcher's code still holds, as the process end would. The targets link
// with -Wl,--wrap for malloc, calloc, realloc and free.
#pragma once

void release_process_memory();
