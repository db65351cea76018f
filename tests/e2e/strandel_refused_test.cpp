// Strandel's batch on images it can never print: a foot from which no model
// can be built, a PNG, a directory or a FIFO under an image's name are set
// aside with their settings in refused/, as is an empty file that has not
// changed for minutes, and the server's list writer lists only the image
// still being written, so the program is not started for them
// again; the longest name prints, its settings file a FIFO that is not read.
// A read-only insole directory is reported, not taken for success.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <string>

#include "common/job_name.h"
#include "station/bmp_list.h"
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

struct Root {
    testsupport::TempDir tmp;
    std::string root = tmp.path(), insole = root + "/insole", files = root + "/VerdanelFiles";
    std::string server = files + "/Hostlet", log = root + "/strandel.log";
    Root() {
        fs::create_directories(insole);
        fs::create_directories(files + "/temp");
        fs::create_directories(server);
        put(server + "/sl_version.txt", "0");
        put(server + "/va_spacing.txt", e2e::job_spacing_file_value());
    }
    void sample(const char* from, const std::string& as) {
        fs::copy_file(std::string(STATION_SAMPLE_DIR) + "/" + from, insole + "/" + as);
    }
    std::string run(bool no_file_override = false) {
        const pid_t pid = start_strandel(server, root, log, no_file_override);
        EXPECT_GT(pid, 0);
        const int status = wait_exit(pid, 280);
        const std::string out = slurp(log);
        EXPECT_EQ(status, 0) << out.substr(out.size() > 4000 ? out.size() - 4000 : 0);
        return out;
    }
};

TEST(StrandelRefused, ImagesSetAsideAreNotListedAgain) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Root r;
    const std::string longest(common::kMaxJobNameBytes, '9');
    ASSERT_TRUE(put(r.insole + "/line_iLeft.bmp", line_foot_bmp()));
    put(r.insole + "/line_iLeft.txt", "density 1");
    r.sample("foot_right_small_flat.bmp", longest + "_iRight.bmp");
    ASSERT_TRUE(::mkfifo((r.insole + "/" + longest + "_iRight.txt").c_str(), 0644) == 0);
    ASSERT_TRUE(write_png(r.insole + "/png_iLeft.bmp", 150, 360, std::vector<uint8_t>(150 * 360 * 3, 40)));
    fs::create_directory(r.insole + "/dir_iLeft.bmp");
    ASSERT_TRUE(::mkfifo((r.insole + "/fifo_iLeft.bmp").c_str(), 0644) == 0);
    const std::string cut = line_foot_bmp();
    put(r.insole + "/cut_iLeft.bmp", cut.substr(0, cut.size() / 2));
    put(r.insole + "/empty_iLeft.bmp", "");
    const timeval long_ago[2] = {{time(nullptr) - 300, 0}, {time(nullptr) - 300, 0}};
    ASSERT_EQ(::utimes((r.insole + "/empty_iLeft.bmp").c_str(), long_ago), 0);
    put(r.insole + "/Bmp_List.txt", "line_iLeft.bmp\r\npng_iLeft.bmp\r\ndir_iLeft.bmp\r\nfifo_iLeft.bmp\r\ncut_iLeft.bmp\r\n" +
                                        longest + "_iRight.bmp\r\nempty_iLeft.bmp");
    const std::string out = r.run();

    EXPECT_TRUE(fs::is_empty(r.files + "/temp"));
    std::vector<std::string> refused, gcode;
    for (const auto& e : fs::directory_iterator(r.insole + "/refused")) refused.push_back(e.path().filename());
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused, (std::vector<std::string>{"dir_iLeft.bmp", "empty_iLeft.bmp", "fifo_iLeft.bmp", "line_iLeft.bmp",
                                                 "line_iLeft.txt", "png_iLeft.bmp"}));
    EXPECT_EQ(slurp(r.insole + "/refused/line_iLeft.txt"), "density 1");
    for (const auto& e : fs::recursive_directory_iterator(r.root))
        if (e.path().extension() == ".gcode") gcode.push_back(e.path().string());
    EXPECT_EQ(gcode, std::vector<std::string>{r.files + "/" + longest + "_iRight.gcode"});
    EXPECT_NE(out.find("line_iLeft.bmp: refused (no insole model can be built from the image); set aside as " +
                       r.insole + "/refused/line_iLeft.bmp"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("_iRight.txt: a FIFO, not read"), std::string::npos);

    // The next file cycle of the server lists only the image still being written.
    ::setenv("STATION_INSOLE_DIR", r.insole.c_str(), 1);
    EXPECT_EQ(station::write_bmp_list(), station::BmpList::written);
    ::unsetenv("STATION_INSOLE_DIR");
    EXPECT_EQ(slurp(r.insole + "/Bmp_List.txt"), station::bmp_list_text({"cut_iLeft.bmp"}));
}

// Nothing can be removed or moved in a read-only insole directory: the job is
// printed, and the console says that the list, the image and the refused
// image stay.
TEST(StrandelRefused, ReadOnlyInsoleDirectoryIsReported) {
    VirtualDisplay display;
    if (!have_display_and_program(display)) GTEST_SKIP() << "no Xvfb or no Strandel";
    Root r;
    r.sample("foot_right_small_flat.bmp", "next_iRight.bmp");
    r.sample("foot_left_120x300.bmp", "small_iLeft.bmp");
    put(r.insole + "/Bmp_List.txt", "small_iLeft.bmp\nnext_iRight.bmp");
    ::chmod(r.insole.c_str(), 0555);
    const std::string out = r.run(true);
    ::chmod(r.insole.c_str(), 0755);
    EXPECT_TRUE(fs::exists(r.files + "/next_iRight.gcode"));
    for (const std::string& line :
         {r.insole + "/Bmp_List.txt cannot be removed", r.insole + "/next_iRight.bmp cannot be removed",
          "small_iLeft.bmp: refused (not a 150 x 360 image); it cannot be moved into " + r.insole + "/refused"})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    EXPECT_TRUE(fs::exists(r.insole + "/next_iRight.bmp") && fs::exists(r.insole + "/small_iLeft.bmp"));
}

}  // namespace
