// Prints the median time of one insole outline build (outline, filled region
// and model) and of the model build alone, for one foot over many runs.
// Usage: bench_insole_geometry [foot.bmp] [runs]; without a file the real left
// foot of testdata/ (or, without testdata, a drawn foot) is used.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/insole_mesh.h"
#include "engine/insole_outline.h"
#include "tests/engine/foot_samples.h"

namespace {

double median_ms(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The engine logs every step to the console; runs are timed with it muted.
struct MutedStdout {
    MutedStdout() {
        std::fflush(stdout);
        saved = dup(1);
        FILE* null = std::fopen("/dev/null", "w");
        if (null) {
            dup2(fileno(null), 1);
            std::fclose(null);
        }
    }
    ~MutedStdout() {
        std::fflush(stdout);
        if (saved >= 0) {
            dup2(saved, 1);
            close(saved);
        }
    }
    int saved = -1;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> foot;
    std::string source = "drawn foot";
#ifdef STATION_TESTDATA_DIR
    source = std::string(STATION_TESTDATA_DIR) + "/mun104_MUN104L_L.bmp";
#endif
    if (argc > 1) source = argv[1];
    if (source != "drawn foot") {
        foot = footsamples::read_foot_bmp(source);
        if (foot.empty()) {
            std::fprintf(stderr, "%s: not a 150 x 360 24- or 32-bit BMP\n", source.c_str());
            return 1;
        }
    } else {
        foot = footsamples::drawn_foot(footsamples::DrawnFoot());
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;

    auto shape = std::make_unique<engine::InsoleShape>();
    engine::init_insole_shape(*shape);
    std::vector<double> outline_ms, mesh_ms;
    size_t triangles = 0;
    {
        MutedStdout muted;
        for (int i = 0; i < runs; ++i) {
            std::vector<uint8_t> pixels = foot;
            engine::Mesh model;
            auto t0 = std::chrono::steady_clock::now();
            engine::build_insole_outline(*shape, pixels.data(), model);
            auto t1 = std::chrono::steady_clock::now();
            engine::Mesh again;
            engine::build_insole_mesh(*shape, again);
            auto t2 = std::chrono::steady_clock::now();
            outline_ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            mesh_ms.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            triangles = model.size();
        }
    }
    std::printf("foot: %s, %d runs, %zu triangles\n", source.c_str(), runs, triangles);
    std::printf("build_insole_outline (with its model): median %.3f ms\n", median_ms(outline_ms));
    std::printf("build_insole_mesh alone:               median %.3f ms\n", median_ms(mesh_ms));
    return 0;
}
