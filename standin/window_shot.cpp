// window_shot: a PNG picture of the top-level window with a given title, for
// the demo on a virtual display without screenshot tools.
// Usage: window_shot TITLE OUT.png [WAIT_SECONDS] [SETTLE_MS]
// Waits up to WAIT_SECONDS for the window, then takes its picture after every
// frame it draws (each frame reports damage on the window or a window inside
// it) until SETTLE_MS have passed since the first frame or the window closes.
// The picture kept is the last one taken after a frame: what the window
// showed, never the screen under a window that has not drawn yet.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/strandel_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

// The window may close at any moment: its errors are expected, not fatal.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// The window's picture as RGB rows, cut to the part that lies on the screen
// (a window taller than the screen cannot be read whole). False when the
// window is gone.
bool grab(Display* d, Window win, int& w, int& h, std::vector<uint8_t>& rgb) {
    XWindowAttributes wa, ra;
    if (!XGetWindowAttributes(d, win, &wa) || !XGetWindowAttributes(d, DefaultRootWindow(d), &ra)) return false;
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(d, win, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
    const int x0 = std::max(rx, 0), y0 = std::max(ry, 0);
    const int x1 = std::min(rx + wa.width, ra.width), y1 = std::min(ry + wa.height, ra.height);
    if (x1 <= x0 || y1 <= y0) return false;
    XImage* img = XGetImage(d, win, x0 - rx, y0 - ry, x1 - x0, y1 - y0, AllPlanes, ZPixmap);
    if (!img) return false;
    w = x1 - x0;
    h = y1 - y0;
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
    return true;
}

// Damage on the window and every window inside it (an OpenGL view is a child window).
void watch_tree(Display* d, Window w) {
    XDamageCreate(d, w, XDamageReportNonEmpty);
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n)) {
        for (unsigned i = 0; i < n; ++i) watch_tree(d, children[i]);
        if (children) XFree(children);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TITLE OUT.png [WAIT_SECONDS] [SETTLE_MS]\n", argv[0]);
        return 2;
    }
    const std::string title = argv[1], out = argv[2];
    const double wait_s = argc > 3 ? std::atof(argv[3]) : 30;
    const int settle_ms = argc > 4 ? std::atoi(argv[4]) : 500;
    Display* d = XOpenDisplay(nullptr);
    int ev_base = 0, err_base = 0;
    if (!d || !XDamageQueryExtension(d, &ev_base, &err_base)) {
        std::fprintf(stderr, "window_shot: no X display with the Damage extension\n");
        return 1;
    }
    XSetErrorHandler(ignore_x_error);
    // Looked for often: a window that does its work and closes may live well under a second.
    const auto give_up = Clock::now() + std::chrono::duration<double>(wait_s);
    platform::WindowHandle win = 0;
    while (!win && Clock::now() < give_up) {
        win = platform::find_window(title);
        if (!win) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!win) {
        std::fprintf(stderr, "window_shot: no window titled \"%s\" within %.0f s\n", title.c_str(), wait_s);
        return 1;
    }
    watch_tree(d, win);
    XSync(d, False);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0, frames = 0;
    Clock::time_point first_frame{};
    for (;;) {
        bool drawn = false;
        while (XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == ev_base + XDamageNotify) {
                XDamageSubtract(d, reinterpret_cast<XDamageNotifyEvent*>(&ev)->damage, None, None);
                drawn = true;
            }
        }
        if (drawn) {
            if (!grab(d, win, w, h, rgb)) break;  // closed right after that frame: the last picture stays
            if (frames++ == 0) first_frame = Clock::now();
        }
        const auto now = Clock::now();
        if (frames > 0 && now - first_frame >= std::chrono::milliseconds(settle_ms)) break;
        if (frames == 0 && now >= give_up) break;
        XWindowAttributes still;
        if (!XGetWindowAttributes(d, win, &still)) break;
        pollfd pfd{ConnectionNumber(d), POLLIN, 0};
        poll(&pfd, 1, 10);
    }
    XCloseDisplay(d);
    if (frames == 0 || rgb.empty()) {
        std::fprintf(stderr, "window_shot: the window titled \"%s\" drew no frame\n", title.c_str());
        return 1;
    }
    if (!strandel_harness::write_png(out, w, h, rgb)) {
        std::fprintf(stderr, "window_shot: the picture of \"%s\" could not be written to %s\n", title.c_str(),
                     out.c_str());
        return 1;
    }
    std::printf("window_shot: \"%s\" %d x %d after %d frame(s) -> %s\n", title.c_str(), w, h, frames, out.c_str());
    return 0;
}
