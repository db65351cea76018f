// Strandel through a job list of 10 sample feet under a private Xvfb: wall
// time of the whole run, the time of each image (until its G-code file is in
// place) and the peak resident memory of the program.
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/strandel_harness.h"

namespace fs = std::filesystem;
using namespace strandel_harness;
using Clock = std::chrono::steady_clock;

int main() {
    VirtualDisplay display;
    if (!display.ok()) {
        printf("strandel_batch: no Xvfb, nothing measured\n");
        return 1;
    }
    const std::string sample = STATION_SAMPLE_DIR;
    const char* feet[] = {"foot_left_large_flat.bmp",     "foot_right_large_flat.bmp",
                          "foot_left_large_higharch.bmp", "foot_right_large_higharch.bmp",
                          "foot_left_small_flat.bmp",     "foot_right_small_flat.bmp",
                          "foot_left_small_higharch.bmp", "foot_right_small_higharch.bmp",
                          "foot_left_medium_splitarch.bmp", "foot_left_large_marked.bmp"};
    const fs::path root = fs::temp_directory_path() / ("strandel_bench_" + std::to_string(getpid()));
    const std::string insole = (root / "insole").string();
    const std::string files = (root / "VerdanelFiles").string();
    const std::string server = files + "/Hostlet";
    fs::create_directories(insole);
    fs::create_directories(files + "/temp");
    fs::create_directories(server);
    std::ofstream(server + "/sl_version.txt") << "1";  // no per-job settings
    std::string list;
    std::vector<std::string> gcodes;
    for (int i = 0; i < 10; ++i) {
        const std::string name = "bench" + std::to_string(i) + "_iLeft.bmp";
        if (!fs::exists(sample + "/" + feet[i])) {
            printf("strandel_batch: sample image %s missing (build the sample data first)\n", feet[i]);
            return 1;
        }
        fs::copy_file(sample + "/" + feet[i], insole + "/" + name);
        list += (i ? "\r\n" : "") + name;
        gcodes.push_back(files + "/bench" + std::to_string(i) + "_iLeft.gcode");
    }
    std::ofstream(insole + "/Bmp_List.txt") << list;

    const auto start = Clock::now();
    const pid_t pid = start_strandel(server, root.string(), (root / "strandel.log").string());
    std::map<size_t, double> done_at;
    int status = 0;
    struct rusage use {};
    for (;;) {
        const pid_t r = wait4(pid, &status, WNOHANG, &use);
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        for (size_t i = 0; i < gcodes.size(); ++i)
            if (!done_at.count(i) && fs::exists(gcodes[i])) done_at[i] = t;
        if (r == pid) break;
        if (t > 1800) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &use);
            printf("strandel_batch: still running after 1800 s, stopped\n");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();

    printf("strandel_batch: 10 sample feet, exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    double last = 0;
    for (size_t i = 0; i < gcodes.size(); ++i) {
        if (done_at.count(i)) {
            printf("  image %zu %-32s %7.2f s (G-code %ju bytes)\n", i, feet[i], done_at[i] - last,
                   static_cast<uintmax_t>(fs::file_size(gcodes[i])));
            last = done_at[i];
        } else {
            printf("  image %zu %-32s no G-code\n", i, feet[i]);
        }
    }
    printf("  wall time %.2f s, %.2f s per image\n", wall, wall / 10);
    printf("  peak resident memory %.1f MiB\n", use.ru_maxrss / 1024.0);
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
