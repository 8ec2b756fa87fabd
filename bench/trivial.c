/* The trivial program of the benchmarks: it does nothing and ends with 0.
 * Built by both trees (bench/CMakeLists.txt): as a Windows GUI-subsystem
 * program (what a packaged Windows application usually is, so that starting
 * it opens no console) and as a native Linux program. It is the main program of every
 * benchmark payload and the reference for what a bare process start costs. */
int main(void) { return 0; }
