// Running the built Strandel from a test: a private Xvfb of a size that holds
// its main window, a child process in a chosen directory and station roots,
// and a PNG picture of a window.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace strandel_harness {

inline std::string strandel_binary() { return std::string(STATION_BINARY_DIR) + "/pathapp/Strandel"; }

// An Xvfb of 1600 x 900 x 24 on a free display; DISPLAY points at it while it lives.
class VirtualDisplay {
public:
    VirtualDisplay() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x900x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        ssize_t n = 0, got = 0;
        while (got < static_cast<ssize_t>(sizeof buf) - 1 && (n = read(fds[0], buf + got, sizeof buf - 1 - got)) > 0) {
            got += n;
            if (buf[got - 1] == '\n') break;
        }
        close(fds[0]);
        if (got <= 0) return;
        name_ = ":" + std::string(buf, buf + got - (buf[got - 1] == '\n' ? 1 : 0));
        old_display_ = getenv("DISPLAY") ? getenv("DISPLAY") : "";
        setenv("DISPLAY", name_.c_str(), 1);
    }
    ~VirtualDisplay() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!name_.empty()) {
            if (old_display_.empty())
                unsetenv("DISPLAY");
            else
                setenv("DISPLAY", old_display_.c_str(), 1);
        }
    }
    bool ok() const { return !name_.empty(); }

private:
    pid_t pid_ = -1;
    std::string name_;
    std::string old_display_;
};

inline bool have_display_and_program(VirtualDisplay& d) { return d.ok() && access(strandel_binary().c_str(), X_OK) == 0; }

// A program (Strandel unless named) started in cwd with the station roots
// under `root`, its output appended to log. `no_file_override`: directory
// permissions bind it also when the tests run as root.
inline pid_t start_strandel(const std::string& cwd, const std::string& root, const std::string& log,
                            bool no_file_override = false, const std::string& bin = strandel_binary()) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        if (no_file_override)
            for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
        setenv("STATION_INSOLE_DIR", (root + "/insole").c_str(), 1);
        setenv("STATION_FILES_DIR", (root + "/VerdanelFiles").c_str(), 1);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        execl(bin.c_str(), bin.substr(bin.rfind('/') + 1).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Waits up to `seconds` for the child; its exit status, or -1 when it is still
// running (it is then killed) or died of a signal.
inline int wait_exit(pid_t pid, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

inline platform::WindowHandle wait_for_window(const std::string& title, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (platform::WindowHandle w = platform::find_window(title)) return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

// Waits until the window inside `win` that holds the point (x, y) of `win`
// (an OpenGL view is a window of its own) draws a frame after this call, as
// the Damage it reports shows. False when no frame came within `seconds`.
inline bool wait_for_frame_at(platform::WindowHandle win, int x, int y, double seconds) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    int ev_base = 0, err_base = 0;
    bool drawn = false;
    if (XDamageQueryExtension(d, &ev_base, &err_base)) {
        Window target = win;
        int cx = x, cy = y;
        for (;;) {
            Window sub = 0, ignored = 0;
            int sx = 0, sy = 0;
            if (!XTranslateCoordinates(d, target, target, cx, cy, &sx, &sy, &sub) || !sub) break;
            XTranslateCoordinates(d, target, sub, cx, cy, &sx, &sy, &ignored);
            target = sub;
            cx = sx;
            cy = sy;
        }
        const Damage damage = XDamageCreate(d, target, XDamageReportNonEmpty);
        XSync(d, False);
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!drawn && std::chrono::steady_clock::now() < end) {
            while (XPending(d)) {
                XEvent ev;
                XNextEvent(d, &ev);
                if (ev.type == ev_base + XDamageNotify) drawn = true;
            }
            pollfd pfd{ConnectionNumber(d), POLLIN, 0};
            if (!drawn) poll(&pfd, 1, 20);
        }
        XDamageDestroy(d, damage);
    }
    XCloseDisplay(d);
    return drawn;
}

// ---- PNG ------------------------------------------------------------------------------
inline uint32_t crc32_of(const uint8_t* p, size_t n, uint32_t c = 0xffffffffu) {
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t k = i;
            for (int j = 0; j < 8; ++j) k = (k & 1) ? 0xedb88320u ^ (k >> 1) : k >> 1;
            table[i] = k;
        }
        made = true;
    }
    for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xff] ^ (c >> 8);
    return c;
}

// RGB rows, top row first, as an uncompressed PNG (stored deflate blocks).
inline bool write_png(const std::string& path, int w, int h, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgb.begin() + static_cast<size_t>(y) * w * 3, rgb.begin() + static_cast<size_t>(y + 1) * w * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t off = 0; off < raw.size() || off == 0; off += 65535) {
        const size_t len = std::min<size_t>(65535, raw.size() - off);
        z.push_back(off + len >= raw.size() ? 1 : 0);
        z.push_back(len & 0xff);
        z.push_back(len >> 8);
        z.push_back(~len & 0xff);
        z.push_back((~len >> 8) & 0xff);
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + len);
        if (raw.empty()) break;
    }
    const uint32_t adler = (b << 16) | a;
    for (int s = 24; s >= 0; s -= 8) z.push_back((adler >> s) & 0xff);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    auto be32 = [&](uint32_t v) {
        uint8_t q[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        fwrite(q, 1, 4, f);
    };
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        be32(static_cast<uint32_t>(data.size()));
        std::vector<uint8_t> td(type, type + 4);
        td.insert(td.end(), data.begin(), data.end());
        fwrite(td.data(), 1, td.size(), f);
        be32(crc32_of(td.data(), td.size()) ^ 0xffffffffu);
    };
    static const uint8_t sig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    fwrite(sig, 1, 8, f);
    std::vector<uint8_t> ihdr = {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w),
                                 uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), 8, 2, 0, 0, 0};
    chunk("IHDR", ihdr);
    chunk("IDAT", z);
    chunk("IEND", {});
    return fclose(f) == 0;
}

// The window's picture as RGB rows (top first); empty when it cannot be read.
inline std::vector<uint8_t> grab_window(platform::WindowHandle win, int& w, int& h) {
    std::vector<uint8_t> rgb;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return rgb;
    XWindowAttributes wa;
    if (XGetWindowAttributes(d, win, &wa)) {
        int rx = 0, ry = 0;
        Window child;
        XTranslateCoordinates(d, win, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
        XImage* img = XGetImage(d, DefaultRootWindow(d), rx, ry, wa.width, wa.height, AllPlanes, ZPixmap);
        if (img) {
            w = wa.width;
            h = wa.height;
            rgb.resize(static_cast<size_t>(w) * h * 3);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const unsigned long p = XGetPixel(img, x, y);
                    uint8_t* o = &rgb[(static_cast<size_t>(y) * w + x) * 3];
                    o[0] = (p >> 16) & 0xff;
                    o[1] = (p >> 8) & 0xff;
                    o[2] = p & 0xff;
                }
            XDestroyImage(img);
        }
    }
    XCloseDisplay(d);
    return rgb;
}

}  // namespace strandel_harness
