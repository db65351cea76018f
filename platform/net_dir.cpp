// Internet check by a real connection attempt, directory search with Windows
// wildcard rules, and the OpenGL entry-point lookup.
#include "platform.h"

#include <GL/glx.h>
#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace platform {

bool check_connection(const std::string& url, int timeout_ms) {
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

    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0) return false;
    bool ok = false;
    for (addrinfo* ai = res; ai && !ok; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        int rc = connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, timeout_ms) == 1) {
                int err = 0;
                socklen_t len = sizeof err;
                ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
            }
        }
        close(fd);
    }
    freeaddrinfo(res);
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

void* gl_proc_address(const char* name) {
    return reinterpret_cast<void*>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

}  // namespace platform
