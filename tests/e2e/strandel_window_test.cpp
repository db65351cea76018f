// Strandel started without a job list: its main window opens, stays open,
// draws its 3-D view and waits. (`make demo` keeps pictures of the windows.)
#include <gtest/gtest.h>

#include <filesystem>

#include "strandel_harness.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace strandel_harness;

namespace {

using testsupport::slurp;

TEST(StrandelWindow, EmptyDirectoryOpensWaitingMainWindow) {
    VirtualDisplay display;
    if (!display.ok()) GTEST_SKIP() << "no Xvfb";
    testsupport::TempDir tmp;
    const std::string cwd = tmp / "server", root = tmp / "root", log = tmp / "strandel.log";
    for (const std::string& d : {cwd, root + "/insole", root + "/VerdanelFiles/temp"}) fs::create_directories(d);

    const pid_t pid = start_strandel(cwd, root, log);
    ASSERT_GT(pid, 0);
    const platform::WindowHandle win = wait_for_window("Strandel", 60);
    ASSERT_NE(win, 0u) << slurp(log);
    // The picture is taken from the first frame of the 3-D view that shows
    // anything but the black of a view not yet painted (its first frames are
    // black while it sets itself up).
    const int view_x = 565 + 130, view_y = 106 + 300;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    auto at = [&](int x, int y) { return &rgb[(static_cast<size_t>(y) * w + x) * 3]; };
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < give_up && wait_for_frame_at(win, view_x, view_y, 60)) {
        rgb = grab_window(win, w, h);
        if (rgb.size() != static_cast<size_t>(1576) * 828 * 3) continue;
        const uint8_t* px = at(view_x, view_y);
        if (px[0] || px[1] || px[2]) break;
    }
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "Strandel ended without a job list:\n" << slurp(log);
    kill(pid, SIGTERM);
    wait_exit(pid, 10);

    ASSERT_EQ(w * 1000 + h, 1576828);
    ASSERT_EQ(rgb.size(), static_cast<size_t>(w) * h * 3);

    // Nothing holds: the strip under the views is the window's grey.
    const uint8_t* strip = at(40, 790);
    EXPECT_FALSE(strip[0] > 200 && strip[1] < 60) << "the hold note shows on an idle window";
    // The 3-D view draws its teal background.
    const uint8_t* bg = at(view_x, view_y);
    EXPECT_TRUE(bg[0] < 40 && bg[1] > 60 && bg[2] > 60) << int(bg[0]) << " " << int(bg[1]) << " " << int(bg[2]);

    const std::string out = slurp(log);
    EXPECT_NE(out.find("w 150   h 360 \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("bmp_list["), std::string::npos) << out;
    // No parameter file is written by the start itself.
    for (const auto& e : fs::directory_iterator(cwd)) ADD_FAILURE() << "start-up wrote " << e.path();
}

}  // namespace
