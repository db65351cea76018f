// Benchmark: the median time of one Fitmire insole rebuild (render, read-back,
// height and slope steps, arch factor, pad) on a drawn template; target <= 20 ms.
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "scaler/gl_steps.h"
#include "scaler/insole_image.h"
#include "tests/scaler/scaler_fixtures.h"
#include "tests/support/gl_context.h"

namespace {

struct PlaneBox {
    fitmire::Plane p = {};
};

}  // namespace

int main() {
    std::string why;
    if (!testsupport::make_gl_current(&why)) {
        std::printf("fitmire_rebuild: no OpenGL context (%s); run under xvfb-run\n", why.c_str());
        return 1;
    }
    char dir_tmpl[] = "/tmp/fitmire_bench_XXXXXX";
    const char* made = mkdtemp(dir_tmpl);
    if (!made) return 1;
    const std::string dir = made;
    auto foot = std::make_unique<PlaneBox>();
    scalertest::fill_foot(foot->p);
    const std::string tmpl = dir + "/template.bmp", drop = dir + "/drop.png";
    scalertest::write_plane_bmp(tmpl, foot->p);
    scalertest::write_drop_png(drop, 250);

    auto view = std::make_unique<fitmire::InsoleImage>();
    fitmire::ScalerControls c;
    // The steps print their console lines; keep them out of the figures.
    std::fflush(stdout);
    const int saved_stdout = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, 1);
    view->load_drop(drop.c_str());
    view->load_texture(tmpl.c_str(), 0, c);
    view->texture = fitmire::gl_create_texture();
    c.degree_30 = true;  // the slowest path: slope limit on, longer and taller
    c.length = view->measured_length + 15;
    c.height_ratio = 1.5;
    view->apply_length(c);

    std::vector<double> ms;
    for (int i = 0; i < 60; ++i) {
        view->current_side = i % 2;
        const auto t0 = std::chrono::steady_clock::now();
        view->rebuild(c);
        glFinish();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::fflush(stdout);
    if (saved_stdout >= 0) dup2(saved_stdout, 1);
    std::sort(ms.begin(), ms.end());
    std::printf("fitmire_rebuild: median %.2f ms, fastest %.2f ms, slowest %.2f ms over %zu rebuilds (target <= 20 ms)\n",
                 ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
    std::remove(tmpl.c_str());
    std::remove(drop.c_str());
    rmdir(dir.c_str());
    return 0;
}
