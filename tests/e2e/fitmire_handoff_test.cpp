// Fitmire end to end: in a temporary station root it picks up a hand-off
// file, saves the left and right insoles in the insole directory and exits;
// a lone left record or an unusable job name leaves it running and writes
// nothing outside the insole directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/file_util.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;

namespace {

const char kTemplate[] = "255mm narrow 20220606 backmove 5mm.bmp";

// A 24-bit BMP, rows bottom-up, each 4-byte aligned.
std::string bmp24(int w, int h, unsigned char (*value)(int row, int col)) {
    const int pitch = (w * 3 + 3) / 4 * 4;
    const int data = pitch * h, size = 54 + data;
    std::string b(size, '\0');
    auto put32 = [&](int at, int v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    b[26] = 1, b[28] = 24;
    put32(34, data);
    put32(38, 3937), put32(42, 3937);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            for (int k = 0; k < 3; ++k) b[54 + r * pitch + c * 3 + k] = static_cast<char>(value(r, c));
    return b;
}

unsigned char foot(int r, int c) {
    if (r < 25 || r > 334) return 0;
    const double t = (r - 25) / 309.0;
    const double hw = (27 + 15 * t) * std::sqrt(std::fmax(0.0, 1 - std::pow(2 * t - 1, 8)));
    const double x = (c + 0.5 - 74) / std::fmax(hw, 1e-6);
    if (std::fabs(x) > 1) return 0;
    return static_cast<unsigned char>(10 + 6 * x * x + 12 * std::exp(-std::pow((t - 0.42) / 0.12, 2)) * std::fmax(0.0, x));
}

unsigned char dome(int r, int c) {
    const double d = std::hypot(r - 124.5, c - 124.5) / 125;
    return static_cast<unsigned char>(d >= 1 ? 0 : 200 * (1 - d * d));
}

class FitmireRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
        insole = root / "insole";
        files = root / "VerdanelFiles";
        server = files + "/Hostlet";
        fs::create_directories(insole);
        fs::create_directories(server);
        // The generated sample data when it is there, small hand-made files otherwise.
        bool sampled = true;
        for (const char* name : {kTemplate, "drop.png", "lut_ancestor.txt"}) {
            std::error_code ec;
            fs::copy_file(testsupport::sample(name), server + "/" + name, ec);
            sampled = sampled && !ec;
        }
        if (!sampled) {
            ASSERT_TRUE(common::write_file_atomic(server + "/" + kTemplate, bmp24(150, 360, foot)));
            // FreeImage tells the type from the bytes, so a BMP can stand in for the PNG stamp.
            ASSERT_TRUE(common::write_file_atomic(server + "/drop.png", bmp24(250, 250, dome)));
            std::string lut;
            for (int i = 0; i < 256; ++i) lut += std::to_string(i) + " " + std::to_string(i) + " 0\n";
            ASSERT_TRUE(common::write_file_atomic(server + "/lut_ancestor.txt", lut));
        }
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    void start() {
        const std::string program = std::string(STATION_BINARY_DIR) + "/scaler/Fitmire";
        const std::string log = root / "fitmire.log";
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (::chdir(server.c_str()) != 0) _exit(126);
            ::setenv("STATION_INSOLE_DIR", insole.c_str(), 1);
            ::setenv("STATION_FILES_DIR", files.c_str(), 1);
            if (!std::freopen(log.c_str(), "w", stdout)) _exit(126);
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    void hand_off(const std::string& text) {
        ASSERT_TRUE(common::write_file_atomic(server + "/insole parameters.txt", text));
    }
    // Waits (bounded) for the program to end; -1 when it is still running.
    int wait_exit(int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return -1;
    }
    bool wait_gone(const std::string& path, int seconds) {
        for (int i = 0; i < seconds * 10; ++i) {
            if (!common::file_exists(path)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    bool still_running() {
        int status = 0;
        return pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0;
    }
    std::vector<std::string> bmps_under(const std::string& dir) {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.path().extension() == ".bmp" && e.path().filename() != kTemplate)
                found.push_back(fs::relative(e.path(), dir).string());
        return found;
    }
    std::string log() {
        std::string text;
        common::read_file(root / "fitmire.log", text);
        return text;
    }

    testsupport::TempDir root;
    std::string insole, files, server;
    pid_t pid = -1;
};

void expect_insole_bmp(const std::string& path) {
    std::string b;
    ASSERT_TRUE(common::read_file(path, b)) << path;
    ASSERT_GT(b.size(), 54u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    auto get32 = [&](int at) {
        return static_cast<int>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
                                static_cast<unsigned char>(b[at + 2]) << 16 |
                                static_cast<unsigned char>(b[at + 3]) << 24);
    };
    EXPECT_EQ(get32(18), 150);
    EXPECT_EQ(get32(22), 360);
}

TEST_F(FitmireRun, SavesBothSidesAndExits) {
    start();
    hand_off("left 0.25 245 0 0 0 0 0 0\nright 0.3 250 0 0 0 0 0 0 0912345678\n");
    const int status = wait_exit(30);
    EXPECT_EQ(status, 0) << log();
    EXPECT_FALSE(common::file_exists(server + "/insole parameters.txt"));
    expect_insole_bmp(insole + "/0912345678_iLeft.bmp");
    expect_insole_bmp(insole + "/0912345678_iRight.bmp");
    EXPECT_EQ(bmps_under(insole).size(), 2u);
    EXPECT_TRUE(bmps_under(files).empty());
    const std::string text = log();
    EXPECT_NE(text.find("FOUND LEFT"), std::string::npos);
    EXPECT_NE(text.find("FOUND RIGHT"), std::string::npos);
}

TEST_F(FitmireRun, LoneLeftRecordLeavesItRunning) {
    start();
    hand_off("left 0.25 245 0 0 0 0 0 0\n");
    ASSERT_TRUE(wait_gone(server + "/insole parameters.txt", 30)) << log();
    EXPECT_EQ(wait_exit(2), -1) << log();
    EXPECT_TRUE(still_running());
}

TEST_F(FitmireRun, UnusableJobNameWritesNothingAndKeepsPolling) {
    start();
    hand_off("right 0.3 250 0 0 0 0 0 0 ../../escape\nleft 0.25 245 0 0 0 0 0 0\n");
    ASSERT_TRUE(wait_gone(server + "/insole parameters.txt", 30)) << log();
    EXPECT_EQ(wait_exit(2), -1) << log();
    EXPECT_TRUE(bmps_under(root.path()).empty());
    EXPECT_NE(log().find("refused"), std::string::npos) << log();

    // A good file afterwards is still taken.
    hand_off("left 0.25 245 0 0 0 0 0 0\nright 0.3 250 0 0 0 0 0 0 job2\n");
    EXPECT_EQ(wait_exit(30), 0) << log();
    EXPECT_TRUE(common::file_exists(insole + "/job2_iRight.bmp"));
}

}  // namespace
