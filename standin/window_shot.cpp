// window_shot: a PNG picture of the top-level window with a given title, for
// the demo on a virtual display without screenshot tools.
// Usage: window_shot TITLE OUT.png [WAIT_SECONDS] [SETTLE_MS]
// Waits up to WAIT_SECONDS for the window, lets it draw for SETTLE_MS (the
// first picture is kept when it closes sooner) and writes the picture.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/e2e/strandel_harness.h"

namespace {

// The window's picture as RGB rows, cut to the part that lies on the screen
// (a window taller than the screen cannot be read whole).
std::vector<uint8_t> grab(platform::WindowHandle win, int& w, int& h) {
    std::vector<uint8_t> rgb;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return rgb;
    XWindowAttributes wa, ra;
    if (XGetWindowAttributes(d, win, &wa) && XGetWindowAttributes(d, DefaultRootWindow(d), &ra)) {
        int rx = 0, ry = 0;
        Window child;
        XTranslateCoordinates(d, win, DefaultRootWindow(d), 0, 0, &rx, &ry, &child);
        const int x0 = std::max(rx, 0), y0 = std::max(ry, 0);
        const int x1 = std::min(rx + wa.width, ra.width), y1 = std::min(ry + wa.height, ra.height);
        XImage* img = x1 > x0 && y1 > y0 ? XGetImage(d, DefaultRootWindow(d), x0, y0, x1 - x0, y1 - y0, AllPlanes,
                                                     ZPixmap)
                                         : nullptr;
        if (img) {
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
        }
    }
    XCloseDisplay(d);
    return rgb;
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
    const platform::WindowHandle win = strandel_harness::wait_for_window(title, wait_s);
    if (!win) {
        std::fprintf(stderr, "window_shot: no window titled \"%s\" within %.0f s\n", title.c_str(), wait_s);
        return 1;
    }
    int w = 0, h = 0;
    std::vector<uint8_t> rgb = grab(win, w, h);
    for (int t = 0; t < settle_ms; t += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (platform::find_window(title) != win) break;
        if (t + 50 >= settle_ms) {
            int w2 = 0, h2 = 0;
            std::vector<uint8_t> later = grab(win, w2, h2);
            if (!later.empty()) rgb.swap(later), w = w2, h = h2;
        }
    }
    if (rgb.empty() || !strandel_harness::write_png(out, w, h, rgb)) {
        std::fprintf(stderr, "window_shot: the picture of \"%s\" could not be written to %s\n", title.c_str(),
                     out.c_str());
        return 1;
    }
    std::printf("window_shot: \"%s\" %d x %d -> %s\n", title.c_str(), w, h, out.c_str());
    return 0;
}
