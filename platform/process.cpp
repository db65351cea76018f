// Starting programs without waiting, the current directory, clocks, code pages.
#include "platform.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cerrno>

namespace platform {

bool start_program(const std::string& path, const std::vector<std::string>& args) {
    const std::string prog = map_path(path);
    if (access(prog.c_str(), X_OK) != 0) {
        std::printf("cannot start %s: %s\n", prog.c_str(), std::strerror(errno));
        return false;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(prog.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // Double fork: the grandchild runs the program and is adopted by init,
    // so no zombie is left whatever the caller does with SIGCHLD.
    int pipefd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        std::printf("cannot start %s: fork failed\n", prog.c_str());
        return false;
    }
    if (child == 0) {
        close(pipefd[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) {
            execv(prog.c_str(), argv.data());
            int err = errno;
            ssize_t w = write(pipefd[1], &err, sizeof err);
            (void)w;
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(pipefd[1]);
    int status = 0;
    waitpid(child, &status, 0);
    // The grandchild's end of the pipe closes on exec (or carries errno).
    int err = 0;
    ssize_t n = read(pipefd[0], &err, sizeof err);
    close(pipefd[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || n == static_cast<ssize_t>(sizeof err)) {
        std::printf("cannot start %s: %s\n", prog.c_str(), n > 0 ? std::strerror(err) : "fork failed");
        return false;
    }
    return true;
}

bool change_dir(const std::string& path) { return chdir(map_path(path).c_str()) == 0; }

std::string current_dir() {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

int64_t perf_counter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t perf_frequency() { return 1000000000LL; }

std::tm local_time() {
    std::time_t now = std::time(nullptr);
    std::tm out{};
    localtime_r(&now, &out);
    return out;
}

std::string utf8_to_ansi(const std::string& s) { return s; }
std::string ansi_to_utf8(const std::string& s) { return s; }

}  // namespace platform
