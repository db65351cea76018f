// Internet check by a real connection attempt, directory search with Windows
// wildcard rules, moving a file without replacing, and the OpenGL entry-point lookup.
#include "platform.h"

#include <GL/glx.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <pthread.h>
#include <stdio.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// One name lookup running on a thread of its own, so that a silent name
// server holds the thread rather than the caller; a late caller for the
// same name waits on the lookup already running instead of starting another.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done_cv;
    bool done = false;
    std::vector<SocketAddress> result;
    std::string key, host, port;
    LookupFn fn;
};

// Never freed: an abandoned lookup may still finish while the program exits.
std::mutex& running_mutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
std::map<std::string, std::shared_ptr<Lookup>>& running() {
    static auto* m = new std::map<std::string, std::shared_ptr<Lookup>>;
    return *m;
}

void* run_lookup(void* arg) {
    std::shared_ptr<Lookup>* held = static_cast<std::shared_ptr<Lookup>*>(arg);
    std::shared_ptr<Lookup> l = *held;
    delete held;
    std::vector<SocketAddress> r = l->fn(l->host, l->port);
    {
        std::lock_guard<std::mutex> lock(l->mutex);
        l->result = r;
        l->done = true;
    }
    l->done_cv.notify_all();
    std::lock_guard<std::mutex> lock(running_mutex());
    auto it = running().find(l->key);
    if (it != running().end() && it->second == l) running().erase(it);
    return nullptr;
}

// The stream addresses of host and port; flags as getaddrinfo takes them.
std::vector<SocketAddress> addresses(const std::string& host, const std::string& port, int flags) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* res = nullptr;
    std::vector<SocketAddress> out;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0) return out;
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress a{};
        std::memcpy(&a.addr, ai->ai_addr, ai->ai_addrlen);
        a.len = ai->ai_addrlen;
        out.push_back(a);
    }
    freeaddrinfo(res);
    return out;
}

// The addresses of host, or none when the lookup has not ended by deadline.
std::vector<SocketAddress> lookup_until(const std::string& host, const std::string& port, LookupFn fn,
                                        Clock::time_point deadline) {
    std::vector<SocketAddress> numeric = addresses(host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (!numeric.empty()) return numeric;
    char fn_text[32];
    std::snprintf(fn_text, sizeof fn_text, "%p", reinterpret_cast<void*>(fn));
    const std::string key = host + '\n' + port + '\n' + fn_text;
    std::shared_ptr<Lookup> l;
    {
        std::lock_guard<std::mutex> lock(running_mutex());
        auto it = running().find(key);
        if (it != running().end()) {
            l = it->second;
        } else {
            l = std::make_shared<Lookup>();
            l->key = key;
            l->host = host;
            l->port = port;
            l->fn = fn;
            pthread_t thread;
            auto* arg = new std::shared_ptr<Lookup>(l);
            if (pthread_create(&thread, nullptr, run_lookup, arg) != 0) {
                delete arg;
                return {};
            }
            pthread_detach(thread);
            running()[key] = l;
        }
    }
    std::unique_lock<std::mutex> lock(l->mutex);
    if (!l->done_cv.wait_until(lock, deadline, [&] { return l->done; })) return {};
    return l->result;
}

int ms_left(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::vector<SocketAddress> lookup_host(const std::string& host, const std::string& port) {
    return addresses(host, port, 0);
}

bool check_connection(const std::string& url, int timeout_ms, LookupFn lookup) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string rest = url;
    std::string port = "80";
    size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        if (rest.compare(0, scheme, "https") == 0) port = "443";
        rest = rest.substr(scheme + 3);
    }
    rest = rest.substr(0, rest.find('/'));
    std::string host = rest;
    if (!rest.empty() && rest[0] == '[') {  // [::1]:port
        size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        host = rest.substr(1, close - 1);
        if (close + 1 < rest.size() && rest[close + 1] == ':') port = rest.substr(close + 2);
    } else {
        size_t colon = rest.rfind(':');
        if (colon != std::string::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
        }
    }
    if (host.empty()) return false;

    bool ok = false;
    for (const SocketAddress& a : lookup_until(host, port, lookup, deadline)) {
        const int left = ms_left(deadline);
        if (left <= 0 || ok) break;
        int fd = socket(a.addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) continue;
        int rc = connect(fd, reinterpret_cast<const sockaddr*>(&a.addr), a.len);
        if (rc == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, left) == 1) {
                int err = 0;
                socklen_t len = sizeof err;
                ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
            }
        }
        close(fd);
    }
    return ok;
}

bool wildcard_match(const std::string& pattern, const std::string& name) {
    // Iterative '*' backtracking; case-insensitive as on the station's file system.
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> find_files(const std::string& dir, const std::string& pattern) {
    std::vector<std::string> out;
    DIR* d = opendir(map_path(dir).c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (wildcard_match(pattern, name)) out.push_back(name);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

MoveResult rename_no_replace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return MoveResult::moved;
    if (errno == EEXIST) return MoveResult::target_exists;
    if (errno != EINVAL && errno != ENOSYS) return MoveResult::failed;
    // A file system without the flag: a hard link fails on an existing name just the same.
    if (link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? MoveResult::target_exists : MoveResult::failed;
    unlink(from.c_str());
    return MoveResult::moved;
}

std::string numbered_name(const std::string& base, int n) {
    if (n < 2) return base;
    const std::string suffix = "." + std::to_string(n);
    const size_t slash = base.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::string stem = base;
    if (base.size() - start + suffix.size() > kMaxFileNameBytes)
        stem = base.substr(0, start + (kMaxFileNameBytes - suffix.size()));
    return stem + suffix;
}

MoveResult move_to_free_name(const std::string& from, const std::string& base, int first, std::string& to,
                             MoveFn move) {
    // A bound only so that the loop has one; no station keeps that many copies.
    constexpr int kLastNumber = 100000;
    for (int n = first; n <= kLastNumber; ++n) {
        const std::string name = numbered_name(base, n);
        const MoveResult m = move(from, name);
        if (m == MoveResult::target_exists) continue;
        if (m == MoveResult::moved) to = name;
        return m;
    }
    return MoveResult::target_exists;
}

FILE* create_new_file(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "w");
    if (!f) {
        const int e = errno;
        close(fd);
        unlink(path.c_str());
        errno = e;
    }
    return f;
}

FILE* create_file_free_name(const std::string& base, std::string& made) {
    constexpr int kLastNumber = 100000;  // as move_to_free_name
    for (int n = 1; n <= kLastNumber; ++n) {
        const std::string name = numbered_name(base, n);
        if (FILE* f = create_new_file(name)) {
            made = name;
            return f;
        }
        if (errno != EEXIST) return nullptr;
    }
    errno = EEXIST;
    return nullptr;
}

void* gl_proc_address(const char* name) {
    return reinterpret_cast<void*>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

bool gl_framebuffer_objects_offered(const char* version, const char* extensions) {
    // Frame-buffer objects are core from OpenGL 3.0 on; an older context has
    // them only when it lists the extension.
    if (version) {
        const char* v = version;
        while (*v && (*v < '0' || *v > '9')) ++v;  // "OpenGL ES 3.1" as well as "4.5 (Core...)"
        int major = 0;
        while (*v >= '0' && *v <= '9' && major < 100) major = major * 10 + (*v++ - '0');
        if (*v == '.' && major >= 3) return true;
    }
    if (!extensions) return false;
    static const char kName[] = "GL_ARB_framebuffer_object";
    const size_t n = sizeof kName - 1;
    for (const char* p = extensions; (p = std::strstr(p, kName)) != nullptr; p += n) {
        const bool starts = p == extensions || p[-1] == ' ';
        const bool ends = p[n] == '\0' || p[n] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

}  // namespace platform
