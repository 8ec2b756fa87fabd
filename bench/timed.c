/* Runs one command and reports its wall-clock time, peak resident memory and
 * CPU time:
 *   timed RESULT_FILE COMMAND [ARG...]
 * writes "SECONDS PEAK_KIB EXIT_STATUS CPU_SECONDS" to RESULT_FILE once the
 * command has ended (the CPU time is user plus system time of the command and
 * of the processes it waited for, all its threads included); the command keeps this program's standard streams. Measuring from a
 * small C program rather than from the benchmark script matters twice: the
 * peak memory that wait4 reports for a process includes what its parent held
 * when it forked, and the script's own start-up of a process costs more than
 * a tiny program's whole run. */
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: timed RESULT_FILE COMMAND [ARG...]\n");
        return 64;
    }
    FILE *result = fopen(argv[1], "w");
    if (result == NULL) {
        perror(argv[1]);
        return 65;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid;
    int error = posix_spawnp(&pid, argv[2], NULL, NULL, argv + 2, environ);
    if (error != 0) {
        fprintf(stderr, "timed: cannot start %s (error %d)\n", argv[2], error);
        return 66;
    }
    int status;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid) {
        perror("wait4");
        return 67;
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    double seconds = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    double cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    fprintf(result, "%.6f %ld %d %.6f\n", seconds, usage.ru_maxrss, code, cpu);
    return fclose(result) == 0 ? 0 : 65;
}
