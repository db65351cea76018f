// Starting programs without waiting, the current directory, clocks, code pages.
#include "platform.h"

#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <string>

namespace platform {

bool start_program(const std::string& path, const std::vector<std::string>& args, long* pid,
                   ProcessHandle* handle) {
    if (handle) *handle = -1;
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
    // so no zombie is left whatever the caller does with SIGCHLD. The middle
    // child waits for the go pipe to close before it ends: until then the
    // grandchild cannot be reaped, so its id is still its own when the
    // handle is taken.
    int pipefd[2], pidfd[2], gofd[2];
    if (pipe2(pipefd, O_CLOEXEC) != 0) return false;
    if (pipe2(pidfd, O_CLOEXEC) != 0) {
        close(pipefd[0]);
        close(pipefd[1]);
        return false;
    }
    if (pipe2(gofd, O_CLOEXEC) != 0) {
        for (int fd : {pipefd[0], pipefd[1], pidfd[0], pidfd[1]}) close(fd);
        return false;
    }
    pid_t child = fork();
    if (child < 0) {
        for (int fd : {pipefd[0], pipefd[1], pidfd[0], pidfd[1], gofd[0], gofd[1]}) close(fd);
        std::printf("cannot start %s: fork failed\n", prog.c_str());
        return false;
    }
    if (child == 0) {
        close(pipefd[0]);
        close(pidfd[0]);
        close(gofd[1]);
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
            close(pidfd[1]);
            char go;
            while (read(gofd[0], &go, 1) < 0 && errno == EINTR) {
            }
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(pipefd[1]);
    close(pidfd[1]);
    close(gofd[0]);
    long started = 0;
    if (read(pidfd[0], &started, sizeof started) != static_cast<ssize_t>(sizeof started)) started = 0;
    close(pidfd[0]);
    ProcessHandle h = -1;
    if (started > 0 && handle) h = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(started), 0));
    close(gofd[1]);
    int status = 0;
    waitpid(child, &status, 0);
    // The grandchild's end of the pipe closes on exec (or carries errno).
    int err = 0;
    ssize_t n = read(pipefd[0], &err, sizeof err);
    close(pipefd[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || n == static_cast<ssize_t>(sizeof err)) {
        std::printf("cannot start %s: %s\n", prog.c_str(), n > 0 ? std::strerror(err) : "fork failed");
        if (h >= 0) close(h);
        return false;
    }
    if (pid) *pid = started;
    if (handle) *handle = h;
    return true;
}

bool still_running(ProcessHandle handle) {
    if (handle < 0) return false;
    // A pidfd reads as ready once its process has ended, reaped or not.
    pollfd p{handle, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}

void close_process_handle(ProcessHandle handle) {
    if (handle >= 0) close(handle);
}

LockResult hold_lock(const std::string& dir) {
    // A lock file inside the directory went with the directory when someone
    // deleted it, and a second server started after that ran beside the
    // first. A bound abstract socket name has no file to delete; its name
    // stands for the directory's real path, hashed to fit.
    char real[PATH_MAX];
    const std::string key = realpath(dir.c_str(), real) ? real : dir;
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const int n = std::snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "station-server-lock/%016llx",
                                static_cast<unsigned long long>(h));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return LockResult::failed;
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0) return LockResult::held;  // open till the end
    const int err = errno;
    close(fd);
    errno = err;
    return err == EADDRINUSE ? LockResult::held_elsewhere : LockResult::failed;
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

bool make_folders(const std::string& dir) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        if (mkdir(dir.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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
