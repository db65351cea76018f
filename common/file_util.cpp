// File helpers shared by the programs.
#include "file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace common {

bool read_file(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool write_file_atomic(const std::string& path, const std::string& data) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

namespace {
std::string kind_of(mode_t mode) {
    if (S_ISREG(mode)) return "";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "no plain file";
}
}  // namespace

int open_plain_file(const std::string& path, std::string& kind, uint64_t& size) {
    kind.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    if (!(kind = kind_of(st.st_mode)).empty()) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !(kind = kind_of(st.st_mode)).empty()) {
        ::close(fd);
        return -1;
    }
    size = static_cast<uint64_t>(st.st_size);
    return fd;
}

bool read_plain_file(const std::string& path, size_t limit, std::string& out, std::string& why) {
    uint64_t size = 0;
    const int fd = open_plain_file(path, why, size);
    if (fd < 0) return false;
    std::string data;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 && data.size() <= limit) data.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    if (n < 0) return false;
    if (data.size() > limit) {
        why = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    out.swap(data);
    return true;
}

}  // namespace common
