// Per-layer time of the slicing pipeline on a 50,000-triangle STL and on
// insole meshes: render and read-back, clean-up and scans, tracing, writing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/gcode_writer.h"
#include "engine/insole_outline.h"
#include "engine/insole_shape.h"
#include "engine/layer_raster.h"
#include "engine/layer_slicer.h"
#include "engine/params.h"
#include "engine/stl_model.h"
#include "platform/platform.h"
#include "tests/engine/foot_samples.h"
#include "tests/support/gl_context.h"

using namespace engine;

namespace {

// A closed slab: a curved top over an nx x ny grid of 100 x 250 mm (heel
// cup, arch, thinner toes), flat bottom and four walls; 81 x 152 gives about
// 50,000 triangles, 114 x 223 about 103,000.
Mesh make_slab(int nx, int ny) {
    const float w = 100, d = 250;
    auto top = [&](int i, int j) {
        float x = w * i / nx, y = d * j / ny;
        float u = x / w - 0.5f, v = y / d;
        float h = 6 + 8 * std::exp(-std::pow((v - 0.45f) / 0.12f, 2)) * std::exp(-std::pow((u + 0.2f) / 0.2f, 2)) +
                  4 * std::exp(-v * 6) - 2 * v + 1.5f * std::sin(7 * u) * std::sin(5 * v);
        return Vec3{x, y, h};
    };
    auto bot = [&](int i, int j) { return Vec3{w * i / nx, d * j / ny, 0}; };
    Mesh m;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            m.push_back({top(i, j), top(i + 1, j), top(i + 1, j + 1)});
            m.push_back({top(i, j), top(i + 1, j + 1), top(i, j + 1)});
            m.push_back({bot(i, j), bot(i + 1, j + 1), bot(i + 1, j)});
            m.push_back({bot(i, j), bot(i, j + 1), bot(i + 1, j + 1)});
        }
    for (int i = 0; i < nx; ++i) {
        m.push_back({bot(i, 0), bot(i + 1, 0), top(i + 1, 0)});
        m.push_back({bot(i, 0), top(i + 1, 0), top(i, 0)});
        m.push_back({bot(i + 1, ny), bot(i, ny), top(i, ny)});
        m.push_back({bot(i + 1, ny), top(i, ny), top(i + 1, ny)});
    }
    for (int j = 0; j < ny; ++j) {
        m.push_back({bot(nx, j), bot(nx, j + 1), top(nx, j + 1)});
        m.push_back({bot(nx, j), top(nx, j + 1), top(nx, j)});
        m.push_back({bot(0, j + 1), bot(0, j), top(0, j)});
        m.push_back({bot(0, j + 1), top(0, j), top(0, j + 1)});
    }
    return m;
}

// The real insole scan (metres, upside down along x) as millimetres on its flat side.
bool load_insole_scan(const std::string& path, Mesh& m) {
    Mesh raw;
    ModelBox rb;
    if (!read_stl_file(path, raw, rb).loaded()) return false;
    m.clear();
    auto conv = [&](const Vec3& v) { return Vec3{v.y * 1000, v.x * 1000, (rb.model_max_z - v.z) * 1000}; };
    for (const MeshTriangle& t : raw) m.push_back({conv(t.a), conv(t.b), conv(t.c)});
    return true;
}

double pct(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t k = (size_t)std::ceil(p / 100.0 * (double)v.size()) - 1;
    return v[std::min(k, v.size() - 1)];
}

void run(const char* name, const Mesh& mesh, bool reference_draw, bool insole_model = false, int turn = 0,
         int point_space = 3) {
    PlainParamStore store;
    set_param_store(&store);
    store.set_text(tx_begin_area, "; start");
    store.set_text(tx_end_area, "; end");
    store.set_value(va_spacing, 0.1);
    store.set_value(va_first_speed, 1200);
    store.set_value(va_other_speed, 1800);
    store.set_value(va_empty_speed, 3000);
    store.set_value(va_back_speed, 2400);
    store.set_value(ck_self_def_angle, 0);
    static LayerRaster* r = nullptr;
    if (!r) {
        r = new LayerRaster();
        if (!init_framebuffer(*r)) return;
    }
    r->saved_point_space = point_space;
    build_sample_grid(*r, point_space);
    ModelBox box;
    for (const auto& t : mesh) box.widen(t.a), box.widen(t.b), box.widen(t.c);
    SliceInputs in;
    // Turned 270 degrees about x and by `turn` about z, as the view places models.
    const double a = turn * 3.14159265 / 180, c = std::cos(a), s = std::sin(a);
    const double mm[16] = {c, 0, -s, 0, -s, 0, -c, 0, 0, 1, 0, 0, 0, 0, 0, 1};
    in.current_angle = turn;
    r->insole_mesh_model = insole_model ? 1 : 0;
    std::memcpy(in.model_matrix, mm, sizeof mm);
    in.centre_matrix[12] = -(box.model_min_x + box.model_max_x) * 0.5;
    in.centre_matrix[13] = -(box.model_min_y + box.model_max_y) * 0.5;
    in.box = box;
    stl_heel_point(box, in.heel_point);
    SliceTimings t;
    g_cross_section_reference_draw = reference_draw;

    store.set_value(va_layer_index, 0);
    r->height_request = 1;
    const std::string out = "/tmp/bench_engine_layers.gcode";
    if (!begin_gcode_file(*r, out)) return;
    std::vector<double> total, render, cleanup, trace, write, preview;
    int frames = 0;
    const int64_t f = platform::perf_frequency();
    const int64_t start = platform::perf_counter();
    // Console lines of the steps go to a file so they do not time the terminal.
    std::fflush(stdout);
    const int saved_fd = dup(1);
    const int log_fd = open("/tmp/bench_engine_layers.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log_fd >= 0) dup2(log_fd, 1);
    while (r->gcode_file_open && frames < 100000) {
        in.timings = &t;
        int64_t a = platform::perf_counter();
        slice_and_write_gcode(*r, mesh, in);
        int64_t b = platform::perf_counter();
        if (frames > 0) {  // the first frame also measures the model height
            total.push_back((double)(b - a) * 1000.0 / (double)f);
            render.push_back(t.render_ms);
            cleanup.push_back(t.cleanup_ms);
            trace.push_back(t.trace_ms);
            write.push_back(t.write_ms);
            preview.push_back(t.preview_ms);
        }
        ++frames;
    }
    const double secs = (double)(platform::perf_counter() - start) / (double)f;
    std::fflush(stdout);
    if (log_fd >= 0) {
        dup2(saved_fd, 1);
        close(log_fd);
    }
    close(saved_fd);
    std::printf("%-34s %6zu tris  %4d layers  %7.1f layers/s%s\n", name, mesh.size(), frames, frames / secs,
                reference_draw ? "  (triangle-by-triangle draw)" : "");
    auto row = [](const char* what, const std::vector<double>& v) {
        std::printf("    %-22s median %7.3f ms   p99 %7.3f ms   max %7.3f ms\n", what, pct(v, 50), pct(v, 99),
                    pct(v, 100));
    };
    row("whole layer", total);
    row("render + read-back", render);
    row("clean-up + scans", cleanup);
    row("tracing (+ mesh cut)", trace);
    row("writing", write);
    row("preview + mipmaps", preview);
    set_param_store(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string why;
    if (!testsupport::make_gl_current(&why)) {
        std::printf("no OpenGL context: %s\n", why.c_str());
        return 1;
    }
    std::string sample50k = std::string(STATION_SAMPLE_DIR) + "/insole_50k.stl";
    if (argc > 1) sample50k = argv[1];
    Mesh big;
    ModelBox bb;
    const char* big_name = "insole_50k.stl (sample)";
    if (!read_stl_file(sample50k, big, bb).loaded() || big.empty()) {
        big = make_slab(81, 152);
        big_name = "curved slab (generated)";
    }
    Mesh scan;
    load_insole_scan(std::string(STATION_TESTDATA_DIR) + "/insole_dfki_bin_colorheader.stl", scan);
    // The insole model the engine builds from a real pressure image.
    Mesh foot_model;
    {
        std::vector<uint8_t> foot =
            footsamples::read_foot_bmp(std::string(STATION_TESTDATA_DIR) + "/mun104_MUN104L_L.bmp");
        if (!foot.empty()) {
            auto shape = std::make_unique<InsoleShape>();
            init_insole_shape(*shape);
            const int saved = dup(1), null_fd = open("/dev/null", O_WRONLY);
            std::fflush(stdout);
            dup2(null_fd, 1);
            build_insole_outline(*shape, foot.data(), foot_model);
            std::fflush(stdout);
            dup2(saved, 1);
            close(null_fd);
            close(saved);
            destroy_insole_shape(*shape);
        }
    }

    run(big_name, big, false);
    run(big_name, big, true);
    if (!foot_model.empty()) {
        run("insole model of mun104_MUN104L_L", foot_model, false, true, -45);
        run("insole model of mun104_MUN104L_L", foot_model, true, true, -45);
    }
    if (!scan.empty()) run("insole scan (testdata STL)", scan, false);
    const Mesh slab100k = make_slab(114, 223);
    run("curved slab (generated)", slab100k, false);
    run("curved slab (generated)", slab100k, true);
    return 0;
}
