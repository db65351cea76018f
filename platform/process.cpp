// Starting programs without waiting, the current directory, clocks, code pages.
#include "platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <string>

namespace platform {

bool start_program(const std::string& path, const std::vector<std::string>& args, long* pid) {
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
    int pipefd[2], pidfd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
    if (pipe2(pidfd, O_CLOEXEC) != 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        for (int fd : {pipefd[0], pipefd[1], pidfd[0], pidfd[1]}) close(fd);
        std::printf("cannot start %s: fork failed\n", prog.c_str());
        return false;
    }
    if (child == 0) {
        close(pipefd[0]);
        close(pidfd[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) {
            execv(prog.c_str(), argv.data());
            int err = errno;
            ssize_t w = write(pipefd[1], &err, sizeof err);
            (void)w;
            _exit(127);
        }
        if (grandchild > 0) {
            const long id = grandchild;
            ssize_t w = write(pidfd[1], &id, sizeof id);
            (void)w;
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(pipefd[1]);
    close(pidfd[1]);
    int status = 0;
    waitpid(child, &status, 0);
    long started = 0;
    if (read(pidfd[0], &started, sizeof started) != static_cast<ssize_t>(sizeof started)) started = 0;
    close(pidfd[0]);
    // The grandchild's end of the pipe closes on exec (or carries errno).
    int err = 0;
    ssize_t n = read(pipefd[0], &err, sizeof err);
    close(pipefd[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || n == static_cast<ssize_t>(sizeof err)) {
        std::printf("cannot start %s: %s\n", prog.c_str(), n > 0 ? std::strerror(err) : "fork failed");
        return false;
    }
    if (pid) *pid = started;
    return true;
}

bool process_running(long pid) {
    if (pid <= 0 || kill(static_cast<pid_t>(pid), 0) != 0) return false;
    // Reaped by whoever adopted it, or a zombie waiting for that: either way ended.
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return false;
    char buf[512];
    const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char* close_paren = std::strrchr(buf, ')');
    return close_paren && close_paren[1] == ' ' && close_paren[2] != 'Z' && close_paren[2] != 'X';
}

namespace {
volatile sig_atomic_t stop_flag = 0;
void on_stop_signal(int) { stop_flag = 1; }
}  // namespace

void catch_stop_signals() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool stop_requested() { return stop_flag != 0; }

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
