// The sanitizer options every fuzz target starts with (ASAN_OPTIONS still
// overrides them).
// The allocator's quarantine, which holds freed blocks back so that a use
// after free is seen, at its default of 256 MiB means that nearly every
// block comes from memory not touched for a long time, each page a fault.
// One input of these targets frees far less than 16 MiB, so within an input
// every use after free is still seen; across inputs, which stand for
// separate processes, there is nothing to see.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
