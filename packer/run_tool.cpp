#include "run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fd_io.h"

int run_tool(const std::vector<std::string>& argv, const std::string& cwd, const std::string& log_path) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0 || dup2(log, STDOUT_FILENO) < 0 || dup2(log, STDERR_FILENO) < 0) _exit(127);
        execvp(args[0], args.data());
        const char message[] = "cannot start the program\n";
        ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
        (void)ignored;
        _exit(127);
    }
    close(log);
    if (pid < 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool run_step(const std::vector<std::string>& argv, const std::string& work_dir, const std::string& step,
              std::string* error) {
    std::string log = work_dir + "/tool.log";
    std::remove(log.c_str());
    int status = run_tool(argv, work_dir, log);
    if (status == 0) return true;
    std::string output;
    if (read_whole_file(log, &output) && !output.empty()) std::fputs(output.c_str(), stderr);
    *error = step + " failed (" + argv[0] +
             (status < 0 ? " did not run)" : " exited with status " + std::to_string(status) + ")");
    return false;
}
