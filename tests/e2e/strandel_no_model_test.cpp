// Strandel's batch on a foot that the loader takes (over 80 rows) but from
// which no insole model can be built: the job is skipped with a line naming
// the image, no G-code appears, the image stays, and the next job still runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "job_spacing.h"
#include "strandel_harness.h"
#include "tests/support/gl_context.h"

namespace fs = std::filesystem;
using namespace strandel_harness;
using testsupport::put;
using testsupport::slurp;

namespace {

// A 24-bit 150 x 360 BMP holding one pixel-wide line of 121 rows: the spur
// pass leaves nothing of it.
std::string line_foot_bmp() {
    return testsupport::bmp24(150, 360, [](int row, int col, unsigned char bgr[3]) {
        const unsigned char v = row >= 100 && row <= 220 && col == 70 ? 80 : 0;
        bgr[0] = bgr[1] = bgr[2] = v;
    });
}

TEST(StrandelNoModel, JobSkippedImageKeptNextJobWritten) {
    VirtualDisplay display;
    if (!display.ok() || !fs::exists(strandel_binary())) GTEST_SKIP() << "no Xvfb or no Strandel";
    testsupport::TempDir tmp;
    const std::string root = tmp.path(), insole = root + "/insole", files = root + "/VerdanelFiles";
    const std::string server = files + "/Hostlet", log = root + "/strandel.log";
    fs::create_directories(insole);
    fs::create_directories(files + "/temp");
    fs::create_directories(server);
    put(server + "/sl_version.txt", "1");
    put(server + "/va_spacing.txt", e2e::job_spacing_file_value());
    ASSERT_TRUE(put(insole + "/line_iLeft.bmp", line_foot_bmp()));
    fs::copy_file(std::string(STATION_SAMPLE_DIR) + "/foot_right_small_flat.bmp", insole + "/next_iRight.bmp");
    put(insole + "/Bmp_List.txt", "line_iLeft.bmp\r\nnext_iRight.bmp");

    const pid_t pid = start_strandel(server, root, log);
    ASSERT_GT(pid, 0);
    const int status = wait_exit(pid, 280);
    const std::string out = slurp(log);
    ASSERT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
    EXPECT_NE(out.find("line_iLeft.bmp: no insole model can be built from the image; job skipped, the image is kept"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(files + "/line_iLeft.gcode"));
    EXPECT_TRUE(fs::exists(insole + "/line_iLeft.bmp"));
    EXPECT_TRUE(fs::exists(files + "/next_iRight.gcode"));
    EXPECT_TRUE(fs::is_empty(files + "/temp"));
}

}  // namespace
