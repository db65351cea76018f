// Strandel's whole job, one sample foot per start of the program, under a
// private Xvfb: wall time until the program ends, its CPU and peak memory,
// the layers it wrote and the layer height they show. Prints the BENCH lines
// that tools/bench.sh describes.
// Environment: BENCH_SPACING_MM (va_spacing to use; unset: its start value),
// BENCH_OUT_DIR (where each job's G-code is kept for the table's checker).
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/strandel_harness.h"

namespace fs = std::filesystem;
using namespace strandel_harness;
using Clock = std::chrono::steady_clock;

namespace {

struct Job {
    const char* foot;  // sample image
    const char* side;  // job-name suffix
};

// Heights of the layer headers ("G1 Z%.2f" on a line of its own).
std::vector<double> layer_heights(const std::string& path) {
    std::vector<double> zs;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        double z;
        char tail;
        if (std::sscanf(line.c_str(), "G1 Z%lf%c", &z, &tail) == 1) zs.push_back(z);
    }
    return zs;
}

// The layer height most layers were printed at.
double usual_step(const std::vector<double>& zs) {
    std::vector<double> steps;
    for (size_t i = 1; i < zs.size(); ++i) steps.push_back(zs[i] - zs[i - 1]);
    if (steps.empty()) return 0;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

}  // namespace

int main() {
    VirtualDisplay display;
    if (!display.ok()) {
        std::printf("strandel_batch: no Xvfb, nothing measured\n");
        return 1;
    }
    const char* spacing_env = std::getenv("BENCH_SPACING_MM");
    const char* out_env = std::getenv("BENCH_OUT_DIR");
    const std::string sample = STATION_SAMPLE_DIR;
    // One foot keeps a run under about 20 s at 0.1 mm layers; the peers slice
    // its insole model too (tools/bench_run.py, PEER_IMAGES).
    const Job jobs[] = {{"foot_left_large_flat", "_iLeft"}};
    const fs::path base = fs::temp_directory_path() / ("strandel_bench_" + std::to_string(getpid()));
    bool all_ok = true;
    double spacing_seen = 0;
    for (const Job& job : jobs) {
        const fs::path root = base / job.foot;
        const std::string insole = (root / "insole").string(), files = (root / "VerdanelFiles").string();
        const std::string server = files + "/Hostlet";
        fs::create_directories(insole);
        fs::create_directories(files + "/temp");
        fs::create_directories(server);
        std::ofstream(server + "/sl_version.txt") << "1";  // no per-job settings
        if (spacing_env) {
            char v[32];
            std::snprintf(v, sizeof v, "%f", std::atof(spacing_env));
            std::ofstream(server + "/va_spacing.txt") << v;
        }
        const std::string image = sample + "/" + job.foot + ".bmp";
        if (!fs::exists(image)) {
            std::printf("strandel_batch: sample image %s missing (build the sample data first)\n", image.c_str());
            return 1;
        }
        const std::string name = std::string("bench") + job.side;
        fs::copy_file(image, insole + "/" + name + ".bmp");
        std::ofstream(insole + "/Bmp_List.txt") << name << ".bmp";
        const std::string gcode = files + "/" + name + ".gcode";

        const auto start = Clock::now();
        const pid_t pid = start_strandel(server, root.string(), (root / "strandel.log").string());
        int status = 0;
        struct rusage use {};
        bool stopped = false;
        for (;;) {
            if (wait4(pid, &status, WNOHANG, &use) == pid) break;
            if (Clock::now() - start > std::chrono::seconds(600)) {
                kill(pid, SIGKILL);
                wait4(pid, &status, 0, &use);
                stopped = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const std::string tag = std::string("strandel_batch/") + job.foot;
        if (stopped || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !fs::exists(gcode)) {
            std::printf("strandel_batch: %s: %s\n", job.foot,
                        stopped ? "still running after 600 s, stopped"
                                : !fs::exists(gcode) ? "no G-code" : "Strandel did not end with status 0");
            all_ok = false;
            continue;
        }
        const std::vector<double> zs = layer_heights(gcode);
        if (spacing_seen == 0) spacing_seen = usual_step(zs);
        std::printf("BENCH %s layers %zu count\n", tag.c_str(), zs.size());
        std::printf("BENCH %s wall %.3f s\n", tag.c_str(), wall);
        std::printf("BENCH %s cpu %.3f s\n", tag.c_str(),
                    use.ru_utime.tv_sec + use.ru_utime.tv_usec / 1e6 + use.ru_stime.tv_sec + use.ru_stime.tv_usec / 1e6);
        std::printf("BENCH %s peak_mem %.1f MB\n", tag.c_str(), use.ru_maxrss / 1024.0);
        if (out_env) {
            const std::string kept = std::string(out_env) + "/" + job.foot + ".gcode";
            std::error_code ec;
            fs::copy_file(gcode, kept, fs::copy_options::overwrite_existing, ec);
            if (!ec) std::printf("BENCH %s gcode %s file\n", tag.c_str(), kept.c_str());
        }
    }
    // Read back from the G-code rather than echoed from the request.
    if (spacing_seen > 0) std::printf("BENCH strandel_batch spacing %.3f mm\n", spacing_seen);
    std::error_code ec;
    fs::remove_all(base, ec);
    return all_ok && spacing_seen > 0 ? 0 : 1;
}
