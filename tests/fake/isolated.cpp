#include "isolated.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

}  // namespace

Isolated run_isolated(const std::function<void()>& body) {
    std::fflush(nullptr);
    // Files, not pipes: the child may write more than a pipe holds.
    FILE* out_file = std::tmpfile();
    FILE* err_file = std::tmpfile();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(out_file), STDOUT_FILENO);
        dup2(fileno(err_file), STDERR_FILENO);
        signal(SIGABRT, SIG_DFL);
        body();
        std::fflush(nullptr);
        _exit(0);
    }
    Isolated result;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    std::rewind(out_file);
    std::rewind(err_file);
    result.out = drain(dup(fileno(out_file)));
    result.err = drain(dup(fileno(err_file)));
    std::fclose(out_file);
    std::fclose(err_file);
    return result;
}
